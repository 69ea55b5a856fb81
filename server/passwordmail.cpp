#include "passwordmail.h"

MailMessage newAccountMail(const std::string& userId, const std::string& password) {
    MailMessage mail;
    mail.to = userId;
    mail.subject = "Your new Clipnote account";
    mail.body = "Welcome to Clipnote!\n\n"
                "User ID: " +
                userId +
                "\n"
                "Password: " +
                password +
                "\n\n"
                "You can change your password under Options after you have signed in.\n";
    return mail;
}

MailMessage passwordResetMail(const std::string& userId, const std::string& password,
                              int validHours) {
    MailMessage mail;
    mail.to = userId;
    mail.subject = "Your new Clipnote password";
    mail.body = "Someone, probably you, asked for a new Clipnote password.\n\n"
                "User ID: " +
                userId +
                "\n"
                "Password: " +
                password +
                "\n\n"
                "Sign in with it within " +
                std::to_string(validHours) +
                " hours. Until you do, your old password keeps working; if you did not ask\n"
                "for a new one, just sign in as usual and this one is forgotten.\n";
    return mail;
}
