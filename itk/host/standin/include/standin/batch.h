// The stand-in as the platform of a batch program (a utility that runs beside the server).
//
// A batch program defines ITK_user_main and links the stand-in's batch main (the target
// standin_batch_main), which plays the platform's main: it keeps the command line for
// ITK_ask_cli_argument, loads the site named by -site=FILE (or the environment variable
// STANDIN_SITE) and calls ITK_user_main. The program then logs in (ITK_init_module or
// ITK_auto_login, tcinit/tcinit.h); the login loads the customization libraries that the site's
// preference TC_customization_libraries names, as the server does: lib<name>.so from the
// library folder, its <name>_register_callbacks, then the three custom exits.
#ifndef STANDIN_BATCH_H
#define STANDIN_BATCH_H

#include <string>

namespace standin {

// The command line that ITK_ask_cli_argument searches; the texts are kept, not copied.
void set_command_line(int argc, char** argv);

// Folder of the customization libraries; default: the folder of the running executable.
void set_library_folder(const std::string& folder);

// Whether a login is in force (ITK_init_module or ITK_auto_login, until ITK_exit_module).
bool logged_in();

}  // namespace standin

#endif
