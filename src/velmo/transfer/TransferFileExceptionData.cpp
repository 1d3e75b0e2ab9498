#include "velmo/transfer/TransferFileExceptionData.h"

#include <new>

#include "velmo/file/FileException.h"

namespace velmo {

TransferFileExceptionData::TransferFileExceptionData(const std::exception_ptr& exception,
                                                     std::string context)
    // Kept as data for the transfer's error; nothing is thrown.
    // NOLINTNEXTLINE(bugprone-throw-keyword-missing)
    : TransferExceptionData(TransferError::UnexpectedError, exception, std::move(context)) {
  if (!exception) return;
  // The order of the handlers matters: the specific file exceptions first, then
  // the family's base.
  try {
    std::rethrow_exception(exception);
  } catch (const FileBadPathException&) {
    SetError(TransferError::FileAccessError);
  } catch (const FileInUseException&) {
    SetError(TransferError::FileAccessError);
    retryable_ = true;
  } catch (const FileInaccessibleException&) {
    SetError(TransferError::FileAccessError);
    retryable_ = true;
  } catch (const FileInsufficientSpaceException&) {
    SetError(TransferError::InsufficientDiskSpace);
    retryable_ = true;
  } catch (const FileOutOfBoundsException&) {
    SetError(TransferError::UnexpectedError);
  } catch (const FileException&) {
    SetError(TransferError::FileError);
  } catch (const std::bad_alloc&) {
    SetError(TransferError::OutOfMemory);
  } catch (...) {
    SetError(TransferError::UnexpectedError);
  }
}

std::shared_ptr<TransferFileExceptionData> MakeTransferFileExceptionData(std::string context) {
  return std::make_shared<TransferFileExceptionData>(std::current_exception(), std::move(context));
}

}  // namespace velmo
