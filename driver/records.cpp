#include "driver/records.hpp"
