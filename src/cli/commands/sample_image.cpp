// sample-image FILE: a made-up, stamped image for trying the tool without a real one.

#include "cli/command.h"
#include "files/files.h"

namespace obrint::cli {
namespace {

void Run(Context& context) {
  const Options& options = context.options;
  const std::vector<std::uint8_t> image = MakeSampleImage(options.sampleSize);
  context.reply.fields["image_path"] = options.image;
  context.reply.fields["image_size"] = image.size();
  if (const Status written = files::ReplaceContents(options.image, image, options.force);
      !written) {
    return context.reply.Fail(written.failure(), files::WithSystemReason(options.image));
  }
  context.reply.fields["image_checksum"] =
      records::ChecksumText(CheckImage(image, image.size()).storedChecksum);
  context.console.Say("wrote a sample image of " + std::to_string(image.size()) + " bytes to " +
                      options.image);
}

}  // namespace

const Command kSampleImageCommand = {"sample-image", "write a made-up, stamped image for trying",
                                     false, Run};

}  // namespace obrint::cli
