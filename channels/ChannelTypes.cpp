#include "channels/ChannelTypes.h"
