#include "fileio/units.hpp"
