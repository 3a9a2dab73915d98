// check IMAGE: read-only; status 0 when the image is ready to flash.
#include <CLI/CLI.hpp>

#include "cli/command.h"
#include "cli/record.h"
#include "cli/files.h"
#include "cli/image_load.h"

namespace obrint::cli {
namespace {

void Define(CLI::App& command, Options& options) {
  command.add_option("IMAGE", options.image, "firmware image (*.bin)")->required();
}

void Run(Context& context) {
  const std::string& path = context.options.image;
  nlohmann::ordered_json& fields = context.reply.fields;
  fields["image_path"] = path;
  const Result<LoadedImage> image = LoadImage(path);
  if (!image) return context.reply.Fail(image.failure(), WithSystemReason(path));
  const ImageCheck& check = image->check;
  const bool ready = !check.verdict.failed();
  fields["image_size"] = check.size;
  fields["image_sha256"] = check.size <= kMaxImageSize ? image->sha256 : "";
  fields["version_block"] = check.hasVersionBlock;
  fields["stored_checksum"] = check.hasVersionBlock ? ChecksumText(check.storedChecksum) : "";
  fields["expected_checksum"] = check.hasVersionBlock ? ChecksumText(check.expectedChecksum) : "";
  fields["ready"] = ready;
  context.console.Say(path + ": " + std::to_string(check.size) + " bytes");
  if (check.hasVersionBlock) {
    context.console.Say("stored checksum:   " + ChecksumText(check.storedChecksum));
    context.console.Say("expected checksum: " + ChecksumText(check.expectedChecksum));
  }
  if (!ready) return context.reply.Fail(check.verdict.failure(), path + " is not ready to flash");
  context.console.Say("ready to flash");
}

}  // namespace

const Command kCheckCommand = {"check", "tell whether an image is ready to flash (read-only)",
                               false, Define, Run};

}  // namespace obrint::cli
