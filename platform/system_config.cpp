// SPDX-License-Identifier: Apache-2.0
#include "platform/platform.h"

const char* system_config_path()
{
    return VELTA_SYSTEM_CONFIG;
}

config_section* read_system_config()
{
    return read_config_file(system_config_path());
}
