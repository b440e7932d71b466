#include "reader/items.hpp"
