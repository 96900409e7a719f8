// The waits of the workers as the program runs them. VORLIX_MAIL_CHECK_MS
// (settings file of the environment, then the environment) shortens the mail
// sender's check period from 30 s, for demonstrations and the program's
// end-to-end tests; the pause before each mail shrinks with it.
#pragma once

#include "serveur/mail/MailWorker.h"

namespace vorlix::app {

inline constexpr const char* kMailCheckVariable = "VORLIX_MAIL_CHECK_MS";

MailTimings MailTimingsOfEnvironment();

}  // namespace vorlix::app
