#pragma once

// Makes the program's classes and the styles singleton known to the interface
// under their module names.
void registerInterfaceTypes();
