// Thin wrappers for the controls and paint contexts of the program's dialogs. Texts are
// UTF-8.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string_view>

namespace dlgkit {

// A control of a dialog, found by its ID.
class CControl {
 public:
  void Attach(HWND dialog, int id) { hwnd_ = ::GetDlgItem(dialog, id); }
  HWND GetSafeHwnd() const { return hwnd_; }
  void EnableWindow(bool enabled) const { ::EnableWindow(hwnd_, enabled ? TRUE : FALSE); }

 protected:
  // The control's answer to a message.
  LRESULT Send(UINT message, WPARAM wParam, const void* lParam) const {
    return ::SendMessageW(hwnd_, message, wParam, reinterpret_cast<LPARAM>(lParam));
  }

 private:
  HWND hwnd_ = nullptr;
};

using CEdit = CControl;
using CButton = CControl;

class CTreeCtrl : public CControl {
 public:
  void SetImageList(HIMAGELIST images, int which) const {
    Send(TVM_SETIMAGELIST, static_cast<WPARAM>(which), images);
  }
  HTREEITEM InsertItem(std::string_view utf8Text, int image, int selectedImage, HTREEITEM parent,
                       HTREEITEM after) const;
  bool DeleteItem(HTREEITEM item) const { return Send(TVM_DELETEITEM, 0, item) != 0; }
  HTREEITEM GetChildItem(HTREEITEM item) const { return Next(TVGN_CHILD, item); }
  HTREEITEM GetNextSiblingItem(HTREEITEM item) const { return Next(TVGN_NEXT, item); }
  HTREEITEM GetParentItem(HTREEITEM item) const { return Next(TVGN_PARENT, item); }
  bool ItemHasChildren(HTREEITEM item) const { return GetChildItem(item) != nullptr; }
  bool Expand(HTREEITEM item, UINT code) const { return Send(TVM_EXPAND, code, item) != 0; }
  bool SelectItem(HTREEITEM item) const { return Send(TVM_SELECTITEM, TVGN_CARET, item) != 0; }
  // The item at a point in the tree's client coordinates, or null.
  HTREEITEM HitTest(POINT clientPoint) const;

 private:
  HTREEITEM Next(UINT relation, HTREEITEM item) const {
    return reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, relation, item));
  }
};

// BeginPaint/EndPaint for the lifetime of the object.
class CPaintDC {
 public:
  explicit CPaintDC(HWND window) : window_(window), dc_(::BeginPaint(window, &paint_)) {}
  ~CPaintDC() { ::EndPaint(window_, &paint_); }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  HDC GetSafeHdc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

}  // namespace dlgkit
