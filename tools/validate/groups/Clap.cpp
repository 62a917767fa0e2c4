#include "../ClapHost.h"
#include "Common.h"
namespace validate {
void clapGroup(Runner&) {}
}
