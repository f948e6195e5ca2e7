#include "runtime/automation.h"

#include <vector>

namespace {

// The cell list of a member call: object, member name, the arguments, and a
// filler when there is no argument, so the list is never shorter than three.
std::vector<ArgCell> member_cells(AutomationObject& object, const char* member,
                                  std::initializer_list<ArgCell> arguments) {
  std::vector<ArgCell> cells;
  cells.reserve(arguments.size() + 3);
  cells.push_back(cell_object(&object));
  cells.push_back(cell_text(member));
  cells.insert(cells.end(), arguments.begin(), arguments.end());
  if (arguments.size() == 0) cells.push_back(cell_omitted());
  return cells;
}

}  // namespace

bool create_object(AutomationObject& object, const char* class_name, const char* type_library) {
  const ArgCell cells[] = {cell_object(&object), cell_text(class_name),
                           type_library ? cell_text(type_library) : cell_omitted()};
  return create_object(3, cells) != 0;
}

void release_object(AutomationObject& object) {
  const ArgCell cell = cell_object(&object);
  release_object(1, &cell);
}

void call_method(AutomationObject& object, const char* member, std::initializer_list<ArgCell> arguments) {
  const std::vector<ArgCell> cells = member_cells(object, member, arguments);
  call_method(static_cast<int32_t>(cells.size()), cells.data());
}

Variant* get_property(AutomationObject& object, const char* member, std::initializer_list<ArgCell> arguments) {
  const std::vector<ArgCell> cells = member_cells(object, member, arguments);
  return get_property(static_cast<int32_t>(cells.size()), cells.data());
}

Variant* call_function(AutomationObject& object, const char* member, std::initializer_list<ArgCell> arguments) {
  const std::vector<ArgCell> cells = member_cells(object, member, arguments);
  return call_function(static_cast<int32_t>(cells.size()), cells.data());
}

Text object_error_text(AutomationObject& object) {
  const ArgCell cell = cell_object(&object);
  return Text::adopt(object_error_text(1, &cell));
}

void clear_variant(Variant& value) {
  const ArgCell cell = cell_variant(&value);
  clear_variant(1, &cell);
}

ByteSet variant_to_bytes(Variant& value, std::optional<int32_t> index) {
  const ArgCell cells[] = {cell_variant(&value), index ? cell_int(*index) : cell_omitted()};
  return ByteSet::adopt(variant_to_bytes(2, cells));
}

Text variant_to_text(Variant& value) {
  const ArgCell cell = cell_variant(&value);
  return Text::adopt(variant_to_text(1, &cell));
}
