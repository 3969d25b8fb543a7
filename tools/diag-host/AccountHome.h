#ifndef DIAG_HOST_ACCOUNT_HOME_H
#define DIAG_HOST_ACCOUNT_HOME_H

#include <string>

// The tools that the check runs read their user configuration (rpm's .rpmmacros) from the home of
// the effective user's account, which the library gives them whatever HOME says. Inside a private
// mount namespace (root only), that home is covered with a small memory file system holding only
// `name` with `content`, so the tools read that and nothing of the account's own. `keep`, a folder
// below the home (an image audited from there), is bound back at its place, read-only as before.
// False with the reason in `error`: no account or home, a home that is not a folder, that is "/"
// or inside `keep` (covering it would change what is audited), or a mount that fails.
bool CoverAccountHome(const std::string& name, const std::string& content, const std::string& keep,
                      std::string& error);

#endif  // DIAG_HOST_ACCOUNT_HOME_H
