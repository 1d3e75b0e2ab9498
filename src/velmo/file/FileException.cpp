#include "velmo/file/FileException.h"

#include <cerrno>
#include <new>

namespace velmo {

void ThrowFileError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
    case EISDIR:
      throw FileBadPathException();
    case EACCES:
    case EPERM:
    case EROFS:
      throw FileInaccessibleException();
    case ENOMEM:
      throw std::bad_alloc();
    case EEXIST:
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      throw FileInUseException();
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      throw FileInsufficientSpaceException();
    case EIO:
      throw FileInvalidMapException();
    default:
      throw FileUnknownException();
  }
}

}  // namespace velmo
