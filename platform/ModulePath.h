#pragma once

#include <string>

// The absolute path of the loaded module (the plug-in's shared object, or the program when the
// code is linked into one), found from the module's own code rather than from the host.
// "" when the system cannot tell.
std::string modulePath();

// The folder holding the module, ending with '/'; "" when unknown.
std::string moduleFolder();
