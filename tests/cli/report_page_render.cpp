// report_page_render REPORT.json PAGE.html: the yield page of a report object given as a file (a
// hand-made one with figures that logs cannot easily be made to give), for the browser checks.
#include <fstream>
#include <iostream>

#include "cli/yield_page.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: report_page_render REPORT.json PAGE.html\n";
    return 2;
  }
  const auto report = nlohmann::ordered_json::parse(std::ifstream(argv[1]));
  const nlohmann::ordered_json source = {{"logs", {argv[1]}}, {"since", ""}, {"image", ""}};
  std::ofstream(argv[2], std::ios::binary) << obrint::cli::YieldPage(report, source);
  return 0;
}
