#include "device/failure.h"

namespace obrint {

FailureCategory CategoryOf(Failure failure) {
  switch (failure) {
    case Failure::kNoHeadset:
    case Failure::kNotOpened:
    case Failure::kNotHidDevice:
    case Failure::kBootNotFound:
    case Failure::kBootNotOpened:
    case Failure::kNotIdentified:
    case Failure::kUnplugged:
    case Failure::kUnidentifiable:
    case Failure::kNeedsRecovery:
    case Failure::kNoArrivalWatch:
      return FailureCategory::kNoDevice;
    case Failure::kSeveralHeadsets:
    case Failure::kBadUsage:
    case Failure::kNoTerminal:
    case Failure::kConnInfoInvalid:
      return FailureCategory::kChoice;
    case Failure::kReportRefused:
    case Failure::kNoRunMode:
    case Failure::kRestartRefused:
    case Failure::kTransferRefused:
    case Failure::kRebootRefused:
    case Failure::kRunModeRefused:
      return FailureCategory::kRefused;
    case Failure::kBlockMismatch:
    case Failure::kTotalMismatch:
    case Failure::kReadBackMismatch:
      return FailureCategory::kVerification;
    case Failure::kImageEmpty:
    case Failure::kImageTooLarge:
    case Failure::kNoVersionBlock:
    case Failure::kChecksumFieldCut:
    case Failure::kChecksumMismatch:
      return FailureCategory::kImage;
    case Failure::kFileNotOpened:
    case Failure::kFileUnreadable:
    case Failure::kFileWriteFailed:
    case Failure::kFileChanged:
    case Failure::kFileExists:
    case Failure::kLogStopped:
    case Failure::kRecordsUnkept:
    case Failure::kNoMemory:
      return FailureCategory::kFile;
    case Failure::kCancelled:
    case Failure::kNotConfirmed:
    case Failure::kRebootDeclined:
      return FailureCategory::kDeclined;
    case Failure::kNotBack:
      return FailureCategory::kNotBack;
    case Failure::kInterrupted:
    case Failure::kStopping:
      return FailureCategory::kInterrupted;
    case Failure::kDatabaseUnreachable:
    case Failure::kNotPostgres:
    case Failure::kNoDatabaseClient:
      return FailureCategory::kDatabaseAway;
    case Failure::kLoginRefused:
    case Failure::kSchemaOlder:
    case Failure::kSchemaNewer:
    case Failure::kSchemaAltered:
    case Failure::kRecordsRefused:
    case Failure::kRequestRefused:
      return FailureCategory::kDatabaseRefused;
  }
  return FailureCategory::kRefused;
}

}  // namespace obrint
