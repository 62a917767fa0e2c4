// The library's module instance handle, recorded when the library is
// loaded. The editor uses it for its window classes and skin resources.
// Null on systems without module handles.
#pragma once

extern void* moduleHandle;
