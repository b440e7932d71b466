#include "reader/cursor.hpp"
