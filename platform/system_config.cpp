// SPDX-License-Identifier: Apache-2.0
#include "platform/platform.h"

const char* system_config_path()
{
    return VELTA_SYSTEM_CONFIG;
}
