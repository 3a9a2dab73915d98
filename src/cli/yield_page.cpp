#include "cli/yield_output.h"

#include <cstdint>
#include <span>
#include <string_view>

#include "device/sha256.h"
#include "device/text.h"
#include "yield_page_html.h"  // kYieldPageHtml, res/yield_page.html made a string

namespace obrint::cli {
namespace {

// JSON to sit inside <script>: every "<" escaped (it can only stand in a string), so that no text
// of the logs can end the element.
std::string ScriptJson(const nlohmann::ordered_json& json) {
  std::string text;
  for (char c : json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)) {
    text += c == '<' ? std::string_view("\\u003c") : std::string_view(&c, 1);
  }
  return text;
}

void Put(std::string& page, std::string_view placeholder, const std::string& text) {
  page.replace(page.find(placeholder), placeholder.size(), text);
}

}  // namespace

std::string YieldPage(const nlohmann::ordered_json& report, const nlohmann::ordered_json& source) {
  std::string page = kYieldPageHtml;
  // The page's policy lets its one script run, known by its digest, and nothing else.
  constexpr std::string_view kOpen = "<script>";
  const std::size_t begin = page.find(kOpen) + kOpen.size();
  const std::string_view script =
      std::string_view(page).substr(begin, page.find("</script>", begin) - begin);
  const std::string digest =
      Base64(Sha256({reinterpret_cast<const std::uint8_t*>(script.data()), script.size()}));
  // The last placeholder first: the text put in never comes before one still to be found.
  Put(page, "{{source}}", ScriptJson(source));
  Put(page, "{{report}}", ScriptJson(report));
  Put(page, "{{script-sha256}}", digest);
  return page;
}

}  // namespace obrint::cli
