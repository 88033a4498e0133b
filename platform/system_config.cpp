#include "platform/platform.h"

config_section* read_system_config()
{
    return read_config_file(VELTA_SYSTEM_CONFIG);
}
