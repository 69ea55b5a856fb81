#pragma once

#include <QStringList>

#include <cstdio>

// `clipnote --sync-once --user ID [--password-file FILE]`: signs in (the
// password from the file or standard input) and runs one Send/Receive cycle
// on the user folder of the current directory without a window, printing a
// line per file sent or received. Exit status 0 on success, 2 for bad
// arguments, 3 when the service could not be reached, 4 when it refused the
// sign-in, 5 when the user folder cannot be used, 6 when another program
// has the user folder open, 7 when no private working folder can be had.
// parseClientCommandLine() (app/commandline.h) tells when it is asked for.

class ClientCore;
// Signs in through the service's sign-in page on the core's session and, on
// success, makes the user the core's user. 0, or the exit status above for
// an unreachable service or a refusal (with the reason in *message).
int signInHeadless(ClientCore& core, const QString& userId, const QString& password,
                   QString* message);
int runSyncOnce(const QStringList& arguments, std::FILE* passwordInput, std::FILE* out,
                std::FILE* err);
