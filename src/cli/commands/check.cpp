// check IMAGE: read-only; status 0 when the image is ready to flash.

#include "cli/command.h"
#include "files/files.h"
#include "engine/loaded_image.h"

namespace obrint::cli {
namespace {

void Run(Context& context) {
  const std::string& path = context.options.image;
  nlohmann::ordered_json& fields = context.reply.fields;
  fields["image_path"] = path;
  const Result<engine::LoadedImage> image = engine::LoadImage(path);
  if (!image) return context.reply.Fail(image.failure(), files::WithSystemReason(path));
  const ImageCheck& check = image->check;
  const bool ready = !check.verdict.failed();
  fields["image_size"] = check.size;
  fields["image_sha256"] = check.size <= kMaxImageSize ? image->sha256 : "";
  fields["version_block"] = check.hasVersionBlock;
  fields["stored_checksum"] =
      check.hasVersionBlock ? records::ChecksumText(check.storedChecksum) : "";
  fields["expected_checksum"] =
      check.hasVersionBlock ? records::ChecksumText(check.expectedChecksum) : "";
  fields["ready"] = ready;
  context.console.Say(path + ": " + std::to_string(check.size) + " bytes");
  if (check.hasVersionBlock) {
    context.console.Say("stored checksum:   " + records::ChecksumText(check.storedChecksum));
    context.console.Say("expected checksum: " + records::ChecksumText(check.expectedChecksum));
  }
  if (!ready) return context.reply.Fail(check.verdict.failure(), path + " is not ready to flash");
  context.console.Say("ready to flash");
}

}  // namespace

const Command kCheckCommand = {"check", "tell whether an image is ready to flash (read-only)",
                               false, Run};

}  // namespace obrint::cli
