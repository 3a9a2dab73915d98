#include "dlgkit/controls.h"

#include <string>

#include "winbase/text.h"

namespace dlgkit {

HTREEITEM CTreeCtrl::InsertItem(std::string_view utf8Text, int image, int selectedImage,
                                HTREEITEM parent, HTREEITEM after) const {
  std::wstring text = obrint::winbase::Widen(utf8Text);
  TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = after;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = text.data();
  insert.item.iImage = image;
  insert.item.iSelectedImage = selectedImage;
  return reinterpret_cast<HTREEITEM>(Send(TVM_INSERTITEMW, 0, &insert));
}

HTREEITEM CTreeCtrl::HitTest(POINT clientPoint) const {
  TVHITTESTINFO hit{};
  hit.pt = clientPoint;
  return reinterpret_cast<HTREEITEM>(Send(TVM_HITTEST, 0, &hit));
}

}  // namespace dlgkit
