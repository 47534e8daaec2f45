// The exit codes of a silent run (/S), one per outcome. Each is the Win32
// error code that names the outcome best, all but one below 256, so that the
// codes are the same where exit codes have only 8 bits; the exception,
// 577 for a package not signed, ends as 577 & 0xFF = 65 there. A run with message boxes
// exits with 0 whatever its outcome, save for a log that may not be written
// (87, as in a silent run); a wrong command line gives 87 only in a silent
// run, as a run without /S passes over the words it does not know.
#pragma once

namespace exit_codes {

const int kInstalled = 0;            // every file copied (and logged, when asked)
const int kNotFound = 2;             // ERROR_FILE_NOT_FOUND: no installation found
const int kManifestInvalid = 13;     // ERROR_INVALID_DATA: the package's manifest cannot be
                                     // read or parsed; nothing was done
const int kPackageDamaged = 23;      // ERROR_CRC: the package is incomplete or damaged (not as
                                     // its manifest lists it); nothing installed
const int kInstalledWithoutLog = 29; // ERROR_WRITE_FAULT: every file copied, log not written
const int kRunning = 32;             // ERROR_SHARING_VIOLATION: the product is running
const int kNotRestored = 31;         // ERROR_GEN_FAILURE: not installed, and the installation
                                     // could not be put back whole (a file held open, most
                                     // often); the next run puts it back
const int kNotInstalled = 82;        // ERROR_CANNOT_MAKE: a file or directory failed; nothing
                                     // installed, the installation is as it was
const int kBadCommandLine = 87;   // ERROR_INVALID_PARAMETER: bad switch (/S) or log; nothing done
const int kCannotOpen = 110;      // ERROR_OPEN_FAILED: product or package cannot be opened
const int kDiskFull = 112;        // ERROR_DISK_FULL: the package does not fit on the
                                  // installation's volume; nothing was written
const int kOtherRunWaiting = 170; // ERROR_BUSY: another run kept the lock; nothing was done
const int kNotSigned = 577;       // ERROR_INVALID_IMAGE_HASH: the manifest is not signed by a
                                  // trusted key, or is missing; nothing was done

} // namespace exit_codes
