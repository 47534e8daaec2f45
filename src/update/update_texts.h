// The fixed texts and names of the update run, in code page 1252.
#pragma once

namespace update_texts {

inline constexpr const char kProductTitle[] = "Brenvolt v1.00";
inline constexpr const char kRegistryKey[] = "SOFTWARE\\Quorvane Software\\Brenvolt\\1.0";
inline constexpr const char kMachineValueName[] = ""; // the key's unnamed default value
inline constexpr const char kUserValueName[] = "&AppPath";
inline constexpr const char kProductExecutable[] = "BV.EXE";
inline constexpr const char kSearchPattern[] = "*.*";
inline constexpr const char kOwnFileName[] = "Update.exe";
inline constexpr const char kNotesCommand[] = "notepad.exe faq.txt";

inline constexpr const char kCaptionError[] = "Error";
inline constexpr const char kCaptionInfo[] = "Info";

// Formatted with the product title.
inline constexpr const char kNotFoundFormat[] =
    "Das Update konnte nicht installiert werden, da das Programm nicht\r\n"
    "gefunden wurde.\r\n\r\nInstallieren Sie erst %s, bevor Sie das Update anwenden.\r\n";
// Shown as it is.
inline constexpr const char kProductRunningText[] = "Sie m\xFCssen erst Brenvolt schlie\xDF"
                                                    "en,\r\nbevor Sie das Update installieren.";
// Formatted with the product title.
inline constexpr const char kCannotOpenFormat[] =
    "Ein Fehler ist w\xE4hrend dem Update aufgetreten.\r\n\r\n"
    "Installieren Sie erst %s, bevor Sie das Update anwenden.\r\n";
// Formatted with the number of files copied.
inline constexpr const char kDoneFormat[] =
    "Es wurden %d Dateien kopiert.\r\nDas Update wurde korrekt installiert.";
// Formatted with the number of files copied and the number that failed.
inline constexpr const char kPartlyDoneFormat[] =
    "Es wurden %d Dateien kopiert.\r\n%d Dateien konnten nicht kopiert werden.\r\n\r\n"
    "Das Update wurde nicht vollst\xE4ndig installiert.";

} // namespace update_texts
