// The fixed texts and names of the update run, in code page 1252.
#pragma once

namespace update_texts {

inline constexpr const char kProductTitle[] = "Brenvolt v1.00";
inline constexpr const char kRegistryKey[] = "SOFTWARE\\Quorvane Software\\Brenvolt\\1.0";
inline constexpr const char kMachineValueName[] = ""; // the key's unnamed default value
inline constexpr const char kUserValueName[] = "&AppPath";
inline constexpr const char kProductExecutable[] = "BV.EXE";
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
// Shown as it is: the program's own path was too long to find the package,
// or the platform could not name it (a folder name that is no Windows name).
// Shown as it is: the registry names the package's own folder.
inline constexpr const char kPackageIsInstallationText[] =
    "Das Update-Paket liegt im Installationsverzeichnis von Brenvolt und kann\r\n"
    "nicht \xFC"
    "ber sich selbst installiert werden.\r\n\r\n"
    "Kopieren Sie das Update-Paket in einen anderen Ordner und starten Sie es\r\n"
    "dort erneut. Die Installation ist unver\xE4ndert.";
inline constexpr const char kPackageUnknownText[] =
    "Das Update-Paket kann nicht ge\xF6"
    "ffnet werden:\r\nder Pfad des Update-Programms ist zu lang oder ung\xFCltig.";
// Shown as it is: another run kept the installation for the whole wait.
inline constexpr const char kOtherRunWaitingText[] =
    "Ein anderes Update von Brenvolt ist noch nicht beendet.\r\n\r\n"
    "Das Update wurde nicht installiert. Starten Sie es sp\xE4ter noch einmal.";
// Formatted with the log file and the reason (one of kLogRefused...); the
// run stops before anything is touched.
inline constexpr const char kLogRefusedFormat[] =
    "Das Protokoll kann nicht in %s geschrieben werden:\r\n%s.\r\n\r\n"
    "Das Update wurde nicht installiert.";
inline constexpr const char kLogRefusedProduct[] = "die Datei ist das Programm BV.EXE";
inline constexpr const char kLogRefusedInstallation[] = "die Datei liegt in der Installation";
inline constexpr const char kLogRefusedPackage[] = "die Datei geh\xF6rt zum Update-Paket";
inline constexpr const char kLogRefusedHardLink[] =
    "die Datei hat noch andere Namen (sie k\xF6nnte eine Datei der Installation sein)";
// Formatted with the number of files copied.
inline constexpr const char kDoneFormat[] =
    "Es wurden %d Dateien kopiert.\r\nDas Update wurde korrekt installiert.";
// Formatted with the number of files that could not be copied.
inline constexpr const char kNotInstalledFormat[] =
    "%d Dateien konnten nicht kopiert werden.\r\n\r\n"
    "Das Update wurde nicht installiert, die Installation ist unver\xE4ndert.";
// The same, when folders failed too; then with their number.
inline constexpr const char kNotInstalledWithFoldersFormat[] =
    "%d Dateien konnten nicht kopiert werden.\r\n"
    "%d Ordner konnten nicht gelesen oder angelegt werden.\r\n\r\n"
    "Das Update wurde nicht installiert, die Installation ist unver\xE4ndert.";
// When only folders failed, with their number.
inline constexpr const char kNotInstalledFoldersFormat[] =
    "%d Ordner konnten nicht gelesen oder angelegt werden.\r\n\r\n"
    "Das Update wurde nicht installiert, die Installation ist unver\xE4ndert.";
// Formatted with the megabytes the update needs and those free on the
// installation's volume; nothing was written.
inline constexpr const char kDiskFullFormat[] =
    "Auf dem Laufwerk ist nicht genug Platz f\xFCr das Update: %u MB werden gebraucht, "
    "%u MB sind frei.\r\n\r\n"
    "Das Update wurde nicht installiert, die Installation ist unver\xE4ndert.";
// Shown as it is.
inline constexpr const char kNotRestoredText[] =
    "Das Update wurde nicht installiert, und die vorige Installation konnte nicht\r\n"
    "vollst\xE4ndig wiederhergestellt werden.\r\n\r\n"
    "Schlie\xDF"
    "en Sie alle Programme, die Dateien von Brenvolt ge\xF6"
    "ffnet haben,\r\nund starten Sie das Update erneut: es stellt die Installation wieder her.";
// Formatted with the number of files missing or not as listed.
inline constexpr const char kPackageDamagedFormat[] =
    "Das Update-Paket ist unvollst\xE4ndig oder besch\xE4"
    "digt:\r\n%d Dateien fehlen oder weichen ab.\r\n\r\n"
    "Das Update wurde nicht installiert, die Installation ist unver\xE4ndert.";
// Shown as it is: the manifest cannot be read or parsed.
inline constexpr const char kManifestInvalidText[] =
    "Das Update-Paket kann nicht gepr\xFC"
    "ft werden:\r\nseine Dateiliste (.Update.sha256) ist nicht lesbar oder ung\xFCltig.\r\n\r\n"
    "Das Update wurde nicht installiert, die Installation ist unver\xE4ndert.";
// Shown as it is: the manifest is not signed by a key this program trusts
// (or there is none, or it changed after it was signed).
inline constexpr const char kNotSignedText[] =
    "Das Update-Paket ist nicht vom Hersteller signiert oder wurde nach dem\r\n"
    "Signieren ver\xE4ndert.\r\n\r\n"
    "Das Update wurde nicht installiert, die Installation ist unver\xE4ndert.";

// The progress window: its caption, the line before the file being copied,
// and its one button.
inline constexpr const char kProgressCaption[] = "Brenvolt-Update";
inline constexpr const char kProgressFileLabel[] = "Wird kopiert: ";
inline constexpr const char kProgressCancelButton[] = "Abbrechen";
// The box after the user stopped the update, shown as it is.
inline constexpr const char kCancelledText[] =
    "Das Update wurde abgebrochen.\r\nDie Installation ist unver\xE4ndert.";

// Shown for /? in a run without /S.
inline constexpr const char kUsageText[] =
    "M\xF6gliche Schalter:\r\n"
    "/S  ohne Meldungen installieren, das Ergebnis steht im Exitcode\r\n"
    "/LOG=<Datei>  den Ablauf in die Datei schreiben";
// Appended to the last message when the log failed; formatted with the log
// file and the error.
inline constexpr const char kLogFailedFormat[] =
    "\r\n\r\nDas Protokoll konnte nicht geschrieben werden: %s";

// The registry roots, as the log names them.
inline constexpr const char kMachineRootName[] = "HKEY_LOCAL_MACHINE";
inline constexpr const char kUserRootName[] = "HKEY_CURRENT_USER";

// The lines of the log.
inline constexpr const char kLogErrorWord[] = "Fehler";
// Formatted with the version; then the package folder and the command line.
inline constexpr const char kLogStartedFormat[] = "Brenvolt-Update %s gestartet";
inline constexpr const char kLogPackage[] = "; Paket: ";
inline constexpr const char kLogPackageUnknown[] =
    "; Paket nicht bestimmbar (Programmpfad zu lang oder ung\xFCltig)";
inline constexpr const char kLogCommandLine[] = "; Befehlszeile: ";
// Then the word of a run without /S that is no switch.
inline constexpr const char kLogWordIgnored[] = "Angabe der Befehlszeile \xFC"
                                                "bergangen: ";
// Formatted with the root and the directory (and the executable's name).
inline constexpr const char kLogInstallationFoundFormat[] = "Installation gefunden unter %s: %s";
inline constexpr const char kLogNoValueFormat[] = "Keine Installation unter %s: kein Eintrag";
// Formatted with the root.
inline constexpr const char kLogValueTooLongFormat[] =
    "Keine Installation unter %s: Eintrag zu lang (h\xF6"
    "chstens 255 Zeichen)";
// Formatted with the lock file and the minutes and seconds of the limit.
inline constexpr const char kLogWaitingFormat[] = "Warte auf %s, ein anderes Update l\xE4uft (h\xF6"
                                                  "chstens %u:%02u Minuten)";
inline constexpr const char kLogNoProductFormat[] =
    "Keine Installation unter %s: %s enth\xE4lt kein %s";
inline constexpr const char kLogProductNotOpened[] = "Brenvolt kann nicht ge\xF6"
                                                     "ffnet werden: ";
// Formatted with the installation directory and the megabytes needed and
// free there.
inline constexpr const char kLogDiskFullFormat[] =
    "Nicht genug Platz auf dem Laufwerk von %s: %u MB gebraucht, %u MB frei";
// Then the installation directory and the error: the run goes on unchecked.
inline constexpr const char kLogSpaceUnknown[] =
    "Freier Platz nicht bestimmbar, das Update wird ohne Pr\xFC"
    "fung kopiert: ";
inline constexpr const char kLogFileCopied[] = "Kopiert: ";
inline constexpr const char kLogFileNotCopied[] = "Nicht kopiert: ";
inline constexpr const char kLogDirectoryNotRead[] = "Verzeichnis nicht lesbar: ";
inline constexpr const char kLogDirectoryNotMade[] = "Verzeichnis nicht angelegt: ";
inline constexpr const char kLogDirectoryNotEntered[] =
    "Verzeichnis ausgelassen, es f\xFChrt in die Installation: ";
inline constexpr const char kLogJournalNotWritten[] = "Journal nicht geschrieben: ";
// The run could open no more handles, and cannot hold its files to its end.
inline constexpr const char kLogOutOfHandles[] =
    "Zu viele Dateien, um jede bis zum Ende des Updates zu halten; das Update wird nicht "
    "installiert: ";
inline constexpr const char kLogNotRestored[] = "Nicht wiederhergestellt: ";
// The package's manifest: then its path.
inline constexpr const char kLogPackageNotChecked[] = "Paket nicht gepr\xFC"
                                                      "ft, es hat keine Dateiliste: ";
inline constexpr const char kLogManifestUnreadable[] = "Dateiliste nicht lesbar: ";
// Formatted with the manifest and the number of files it lists.
inline constexpr const char kLogPackageCheckedFormat[] = "Paket wird gepr\xFC"
                                                         "ft gegen die Dateiliste %s (%u Dateien)";
// Formatted with the manifest and the line refused.
inline constexpr const char kLogManifestMalformedFormat[] = "Dateiliste ung\xFCltig: %s, Zeile %u";
// The manifest's signature: then the signature's path (or the manifest's).
inline constexpr const char kLogSignatureNotChecked[] =
    "Signatur der Dateiliste nicht gepr\xFC"
    "ft, dieses Update.exe hat keinen Schl\xFCssel eingebaut: ";
// Formatted with the key's short SHA-256 and the signature.
inline constexpr const char kLogSignatureVerifiedFormat[] = "Dateiliste signiert, gepr\xFC"
                                                            "ft mit dem Schl\xFCssel %s: %s";
inline constexpr const char kLogManifestRequired[] =
    "Paket abgelehnt, es hat keine Dateiliste (und damit keine Signatur): ";
inline constexpr const char kLogSignatureMissing[] =
    "Paket abgelehnt, die Dateiliste ist nicht signiert: ";
inline constexpr const char kLogSignatureUnreadable[] =
    "Paket abgelehnt, die Signatur ist nicht lesbar: ";
inline constexpr const char kLogSignatureMalformed[] =
    "Paket abgelehnt, die Signatur ist keine Zeile Base64 einer ECDSA-Signatur: ";
// Formatted with the number of keys and the signature.
inline constexpr const char kLogSignatureByNoKeyFormat[] =
    "Paket abgelehnt, die Signatur ist von keinem der %u eingebauten Schl\xFCssel, "
    "oder die Dateiliste wurde nach dem Signieren ver\xE4ndert: %s";
// Formatted with CNG's status and the signature.
inline constexpr const char kLogSignatureNoVerifierFormat[] =
    "Paket abgelehnt, die Signatur kann nicht gepr\xFC"
    "ft werden (CNG, ECDSA P-256, Status 0x%08X): %s";
// What the check of the package found; then the package file.
inline constexpr const char kLogFileUnlisted[] = "Nicht in der Dateiliste, nicht kopiert: ";
inline constexpr const char kLogFileLost[] =
    "Nicht in der Dateiliste, aber installiert (Dateiliste unvollst\xE4ndig): ";
inline constexpr const char kLogFileMissing[] = "Fehlt im Paket: ";
inline constexpr const char kLogFileDiffers[] = "Anders als in der Dateiliste (SHA-256): ";
// Formatted with the milliseconds waited; the file follows.
inline constexpr const char kLogWaitedFormat[] =
    "Von einem anderen Programm kurz belegt, nach %d ms fortgesetzt: ";
inline constexpr const char kLogGaveUpFormat[] =
    "Von einem anderen Programm belegt, nach %d ms aufgegeben: ";
inline constexpr const char kLogReadOnlyReplaced[] = "Schreibgesch\xFCtzte Datei ersetzt: ";
// What was found of an earlier run that was stopped; then the installation
// directory (or the journal).
inline constexpr const char kLogRecoveryUndone[] = "Unterbrochenes Update r\xFC"
                                                   "ckg\xE4ngig gemacht: ";
inline constexpr const char kLogRecoveryCompleted[] = "Unterbrochenes Update abgeschlossen: ";
inline constexpr const char kLogRecoveryFailed[] = "Unterbrochenes Update konnte nicht r\xFC"
                                                   "ckg\xE4ngig gemacht werden: ";
inline constexpr const char kLogRecoveryUnusable[] = "Unbrauchbares Journal entfernt: ";
inline constexpr const char kLogRecoverySetAside[] =
    "Ordner mit dem Namen des Journals umbenannt (.Update.journal-<Prozess-ID>), "
    "nichts darin entfernt: ";
// Formatted with the number of journal lines passed over.
inline constexpr const char kLogRecoverySkippedFormat[] = " (%d Eintr\xE4ge \xFC"
                                                          "bergangen)";
// Formatted with the result and the exit code.
inline constexpr const char kLogFinishedFormat[] = "Ergebnis: %s; Exitcode %d";

// The results, as the log words them.
inline constexpr const char kResultInstalledFormat[] =
    "Das Update wurde korrekt installiert, %d Dateien kopiert";
// Formatted with the number of files and of folders that failed.
inline constexpr const char kResultNotInstalledFormat[] =
    "Das Update wurde nicht installiert, die Installation wurde wiederhergestellt; "
    "%d Dateien nicht kopiert, %d Ordner nicht gelesen oder angelegt";
inline constexpr const char kResultNotRestored[] =
    "Das Update wurde nicht installiert, die Installation konnte nicht wiederhergestellt werden";
inline constexpr const char kResultCancelled[] =
    "Das Update wurde abgebrochen, die Installation ist unver\xE4ndert";
// Formatted with the number of files missing or not as listed.
inline constexpr const char kResultPackageDamagedFormat[] =
    "Das Update-Paket ist unvollst\xE4ndig oder besch\xE4"
    "digt, %d Dateien fehlen oder weichen ab; die Installation ist unver\xE4ndert";
inline constexpr const char kResultManifestInvalid[] =
    "Die Dateiliste des Update-Pakets ist nicht lesbar oder ung\xFCltig, nichts installiert";
inline constexpr const char kResultNotSigned[] =
    "Das Update-Paket ist nicht vom Hersteller signiert, nichts installiert";
inline constexpr const char kResultNotFound[] = "Brenvolt wurde nicht gefunden";
inline constexpr const char kResultRunning[] = "Brenvolt l\xE4uft noch";
inline constexpr const char kResultPackageUnknown[] = "Das Update-Paket kann nicht ge\xF6"
                                                      "ffnet werden";
inline constexpr const char kResultPackageIsInstallation[] =
    "Das Update-Paket liegt im Installationsverzeichnis, nichts installiert";
inline constexpr const char kResultOtherRunWaiting[] =
    "Ein anderes Update ist nicht beendet, nichts installiert";
inline constexpr const char kResultDiskFull[] =
    "Nicht genug Platz auf dem Laufwerk, nichts installiert";
inline constexpr const char kResultCannotOpen[] = "Brenvolt oder das Update-Paket kann nicht ge\xF6"
                                                  "ffnet werden";

} // namespace update_texts
