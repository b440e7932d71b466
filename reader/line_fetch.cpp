#include "reader/line_fetch.hpp"
