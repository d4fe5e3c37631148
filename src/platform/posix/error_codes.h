// Every Windows error code the POSIX layer can produce, each with its English text, listed once.
// Expand CLEAVE_ERROR_CODES with a macro taking (name, code, text).
#ifndef CLEAVE_ERROR_CODES_H
#define CLEAVE_ERROR_CODES_H

#define CLEAVE_ERROR_CODES(X)                                                                      \
    X(ERROR_SUCCESS, 0, "The operation completed successfully.")                                   \
    X(ERROR_FILE_NOT_FOUND, 2, "The file does not exist.")                                         \
    X(ERROR_PATH_NOT_FOUND, 3, "A directory on the way to the file does not exist.")               \
    X(ERROR_TOO_MANY_OPEN_FILES, 4, "Too many files are open at once.")                            \
    X(ERROR_ACCESS_DENIED, 5, "Access to the file was refused.")                                   \
    X(ERROR_INVALID_HANDLE, 6, "The file handle is not valid.")                                    \
    X(ERROR_NOT_ENOUGH_MEMORY, 8, "There is not enough memory to finish the operation.")           \
    X(ERROR_INVALID_DATA, 13, "The data is not valid.")                                            \
    X(ERROR_NOT_SAME_DEVICE, 17, "The file cannot be moved to a different file system.")           \
    X(ERROR_NO_MORE_FILES, 18, "There are no more files.")                                         \
    X(ERROR_WRITE_PROTECT, 19, "The file system is mounted read-only.")                            \
    X(ERROR_GEN_FAILURE, 31, "The system reported a failure that has no closer description.")      \
    X(ERROR_SHARING_VIOLATION, 32, "The file is already open in a way that does not allow this.")  \
    X(ERROR_HANDLE_EOF, 38, "The end of the file was reached too early.")                          \
    X(ERROR_NOT_SUPPORTED, 50, "The operation is not supported for this kind of file.")            \
    X(ERROR_FILE_EXISTS, 80, "The file already exists.")                                           \
    X(ERROR_INVALID_PARAMETER, 87, "A parameter is not valid.")                                    \
    X(ERROR_BROKEN_PIPE, 109, "The other end of the pipe was closed.")                             \
    X(ERROR_DISK_FULL, 112, "There is not enough space left on the disk.")                         \
    X(ERROR_NEGATIVE_SEEK, 131, "The file position would be before the start of the file.")        \
    X(ERROR_BUSY, 170, "The file or device is busy.")                                              \
    X(ERROR_ALREADY_EXISTS, 183, "A file with the new name already exists.")                       \
    X(ERROR_FILENAME_EXCED_RANGE, 206, "The file name or path is too long.")                       \
    X(ERROR_FILE_TOO_LARGE, 223, "The file would grow past the size allowed.")                     \
    X(ERROR_MR_MID_NOT_FOUND, 317, "There is no message text for this error code.")                \
    X(ERROR_IO_DEVICE, 1117, "The device reported an input/output error.")                         \
    X(ERROR_TOO_MANY_LINKS, 1142, "The file has too many links.")                                  \
    X(ERROR_CANT_RESOLVE_FILENAME, 1921, "The name could not be resolved: too many symbolic links.")

#endif
