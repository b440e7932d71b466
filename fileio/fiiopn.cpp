#include "fileio/fiiopn.hpp"
