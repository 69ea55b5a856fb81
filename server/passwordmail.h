#pragma once

#include "mailbox.h"

#include <string>

// The mailed texts that carry a password. The password stands alone on a
// line "Password: ..." so that a person, a script or a test finds it.
MailMessage newAccountMail(const std::string& userId, const std::string& password);
MailMessage passwordResetMail(const std::string& userId, const std::string& password,
                              int validHours);
