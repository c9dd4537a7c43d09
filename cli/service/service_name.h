#pragma once

// SERVICE_NAME and SERVICE_NAME_WIDE live beside the pipe's name: the
// backlight access names the service when it finds no pipe.
#include "nivalto/hal/service_pipe.h"
