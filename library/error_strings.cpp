// The messages of the result codes. The texts are part of the interface and are
// returned exactly as they stand, spelling included.
#include "library/vorx.h"

extern "C" const char* VORX_CALL vorx_GetErrorString(vorx_Error code) {
    switch (code) {
        case vorx_Success:
            return "Success";
        case vorx_Unknown:
            return "Unknown";
        case vorx_InvalidArgument:
            return "Invalid argument passed";
        case vorx_CorruptArchive:
            return "Archive is corrupt or if encrypted, invalid password used";
        case vorx_NotFound:
            return "Not found";
        case vorx_EntryExists:
            return "Entry exists already";
        case vorx_OutOfDiskSpace:
            return "Out of disk space";
        case vorx_ReadOnly:
            return "Archive is opened for read-only access preventing this operation";
        case vorx_Locked:
            return "Archive has been locked preventing this operation";
        case vorx_CrcMismatch:
            return "Decompressed file CRC does not match original";
        case vorx_PasswordRequired:
            return "The selected operation requires a correct password";
        case vorx_OutOfMemory:
            return "The selected operation failed to allocate enough memory";
        case vorx_OlderFormat:
            return "The open archive is an older archive format, this operation is not supported";
        case vorx_ReadFailed:
            return "The operation failed reading the input from disk, archive might be corrupt, "
                   "check file restrictions, etc";
        case vorx_NotFoundOrInUse:
            return "Not found or in use by another program";
        case vorx_WriteFailed:
            return "The operation failed writing the output to disk, check restrictions and disk "
                   "spac";
        case vorx_Debug1:
            return "Debug1";
        case vorx_Debug2:
            return "Debug2";
        default:
            return "Unknown <?>";
    }
}
