#include "runtime/values.h"

#include <cstring>

namespace {
ArgCell cell_of_double(double v, uint32_t tag) {
  ArgCell cell;
  std::memcpy(&cell.value, &v, sizeof v);
  cell.tag = tag;
  return cell;
}
}  // namespace

ArgCell cell_float64(double v) { return cell_of_double(v, tag_float64); }
ArgCell cell_date_time(double v) { return cell_of_double(v, tag_date_time); }
