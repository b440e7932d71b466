#include "reader/reader_state.hpp"
