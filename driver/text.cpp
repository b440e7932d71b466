#include "driver/text.hpp"
