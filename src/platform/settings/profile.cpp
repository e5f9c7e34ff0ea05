#include "settings/profile.h"
