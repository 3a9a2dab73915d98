// stamp IMAGE: the image checksum written into the version block, in place: only the checksum
// field is written, into the very file that was read and checked, and only while it still has
// the size it had then.

#include "cli/command.h"
#include "files/files.h"
#include "device/bytes.h"

namespace obrint::cli {
namespace {

void Run(Context& context) {
  const std::string& path = context.options.image;
  Reply& reply = context.reply;
  reply.fields["image_path"] = path;
  Result<files::File> file = files::File::Open(path, files::Access::kUpdate);
  if (!file) return reply.Fail(file.failure(), files::WithSystemReason(path));
  const Result<std::uint64_t> size = file->Size();
  if (!size) return reply.Fail(size.failure(), files::WithSystemReason(path));
  if (*size > kStampBufferSize) return reply.Fail(Failure::kImageTooLarge, path);
  Result<std::vector<std::uint8_t>> bytes = file->Read(0, kStampBufferSize);
  if (!bytes || bytes->size() != *size) return reply.Fail(Failure::kFileUnreadable, path);

  std::vector<std::uint8_t> buffer(kStampBufferSize, 0);
  std::copy(bytes->begin(), bytes->end(), buffer.begin());
  const auto imageSize = static_cast<std::uint32_t>(*size);
  const Result<Stamp> stamp = StampImage(buffer, imageSize);
  if (!stamp) return reply.Fail(stamp.failure(), path);
  // Another program may have written meanwhile: the field goes only where it was read.
  if (const Result<std::uint64_t> now = file->Size(); !now || *now != *size) {
    return reply.Fail(Failure::kFileChanged, path);
  }
  if (const Status written = file->WriteAt(
          kChecksumFieldOffset, std::span(&buffer[kChecksumFieldOffset], stamp->fieldBytes));
      !written) {
    return reply.Fail(written.failure(), files::WithSystemReason(path));
  }
  const std::uint32_t stored = ReadLe32(&buffer[kChecksumFieldOffset]);
  reply.fields["image_size"] = imageSize;
  reply.fields["image_checksum"] = records::ChecksumText(stored);
  reply.fields["previous_checksum"] = records::ChecksumText(stamp->previous);
  context.console.Say("stamped checksum " + records::ChecksumText(stored) + " into " + path);
  if (stamp->fieldBytes == kChecksumFieldSize && stamp->previous != 0) {
    context.console.Warn(
        "the checksum field was not empty before; the stamped value includes its old content, "
        "so check will not accept the image");
  }
  if (stamp->fieldBytes < kChecksumFieldSize) {
    context.console.Warn("the file ends inside the checksum field; only part of it was written");
  }
}

}  // namespace

const Command kStampCommand = {"stamp", "write an image's checksum into its version block", false,
                               Run};

}  // namespace obrint::cli
