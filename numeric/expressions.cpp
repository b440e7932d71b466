#include "numeric/expressions.hpp"
