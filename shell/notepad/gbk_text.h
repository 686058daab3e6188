// The viewer's former GBK reader, now the program's one GBK converter (shell/gbk.h); the name
// stays for its callers.
#pragma once

#include "shell/gbk.h"

namespace tallyvet::notepad {

using tallyvet::GbkToUtf8;

}  // namespace tallyvet::notepad
