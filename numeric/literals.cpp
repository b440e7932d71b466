#include "numeric/literals.hpp"
