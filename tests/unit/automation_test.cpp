// The automation bridge as its callers see it, through the HTTP request classes
// that both platforms offer.
#include "runtime/automation.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/system.h"
#include "unit/fixture_server.h"

namespace {

class Automation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { platform::com_initialize(); }

  // Opens and sends a GET of path on a new HTTP object.
  void fetch(const std::string& path) {
    ASSERT_TRUE(create_object(*request, "MSXML2.XMLHTTP"));
    const std::string address = fixture_address(path);
    call_method(*request, "open", {cell_text("GET"), cell_text(address.c_str()), cell_bool(false)});
    ASSERT_EQ(request->last_result, 0);
    call_method(*request, "send");
    ASSERT_EQ(request->last_result, 0);
  }

  AutomationHandle request;
};

TEST_F(Automation, EveryHttpClassNameAndClassIdMakesAnObject) {
  for (const char* name : {"MSXML2.XMLHTTP", "Microsoft.XMLHTTP", "WinHttp.WinHttpRequest.5.1",
                           "{2087C2F4-2CEF-4953-A8AB-66779B670495}", "msxml2.xmlhttp"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(create_object(*request, name));
    EXPECT_NE(request->interface_pointer, nullptr);
    EXPECT_EQ(request->last_result, 0);
    EXPECT_TRUE(object_error_text(*request).empty());
  }
  release_object(*request);
  EXPECT_EQ(request->interface_pointer, nullptr);
  EXPECT_EQ(request->last_result, 0);
}

TEST_F(Automation, CreationFailuresLeaveTheRecordEmpty) {
  struct Case {
    const char* name;
    int32_t result;
  } cases[] = {
      {"No.Such.Class", result_invalid_class_string},
      {"{00000000-0000-0000-0000-00000000}", result_invalid_class_string},
      {"{00000000-0000-0000-0000-000000000001}", int32_t(0x80040154)},  // not registered
      {"", result_invalid_class_string},
      {nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    ASSERT_TRUE(create_object(*request, "Microsoft.XMLHTTP"));
    EXPECT_FALSE(create_object(*request, c.name));  // the object made before is released first
    EXPECT_EQ(request->interface_pointer, nullptr);
    EXPECT_EQ(request->last_result, c.result);
  }
}

TEST_F(Automation, MemberCallsOnAnEmptyRecordReportNoObject) {
  call_method(*request, "send");
  EXPECT_EQ(request->last_result, result_no_object);
  VariantHandle value = VariantHandle::adopt(get_property(*request, "responseBody"));
  EXPECT_EQ(value->type, variant_empty);
  EXPECT_EQ(request->last_result, result_no_object);
}

TEST_F(Automation, UnknownMemberReportsUnknownName) {
  ASSERT_TRUE(create_object(*request, "MSXML2.XMLHTTP"));
  VariantHandle value = VariantHandle::adopt(get_property(*request, "noSuchMember"));
  EXPECT_EQ(value->type, variant_empty);
  EXPECT_EQ(request->last_result, result_unknown_name);
  call_method(*request, "noSuchMember", {cell_int(1)});
  EXPECT_EQ(request->last_result, result_unknown_name);
  call_method(*request, nullptr);
  EXPECT_EQ(request->last_result, result_unknown_name);
}

TEST_F(Automation, ResponseBodyIsAByteArray) {
  REQUIRE_FIXTURE_SERVER();
  fetch("/fixture_server/pages/utf8.html");
  const std::string page = fixture_file("/fixture_server/pages/utf8.html");
  VariantHandle body = VariantHandle::adopt(get_property(*request, "responseBody"));
  EXPECT_EQ(request->last_result, 0);
  EXPECT_TRUE(object_error_text(*request).empty());
  ASSERT_EQ(body->type, variant_byte_array);

  const ByteSet whole = variant_to_bytes(*body);
  ASSERT_EQ(whole.size(), int32_t(page.size()));
  EXPECT_TRUE(std::string(reinterpret_cast<const char*>(whole.data()), page.size()) == page);
  // A byte array is taken whole, whatever index is given.
  EXPECT_EQ(variant_to_bytes(*body, 3).size(), int32_t(page.size()));
  EXPECT_TRUE(variant_to_text(*body).empty());  // bytes are no string

  clear_variant(*body);
  EXPECT_EQ(body->type, variant_empty);
  EXPECT_EQ(variant_to_bytes(*body).get(), nullptr);
}

TEST_F(Automation, EachHttpClassFetchesAPage) {
  REQUIRE_FIXTURE_SERVER();
  const std::string page = fixture_file("/fixture_server/pages/utf8.html");
  const std::string address = fixture_address("/fixture_server/pages/utf8.html");
  for (const char* name : {"MSXML2.XMLHTTP", "Microsoft.XMLHTTP", "WinHttp.WinHttpRequest.5.1"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(create_object(*request, name));
    call_method(*request, "open", {cell_text("GET"), cell_text(address.c_str()), cell_bool(false)});
    call_method(*request, "send");
    VariantHandle body = VariantHandle::adopt(get_property(*request, "responseBody"));
    EXPECT_EQ(request->last_result, 0);
    const ByteSet bytes = variant_to_bytes(*body);
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(bytes.data()), size_t(bytes.size())) == page);
  }
}

TEST_F(Automation, PickingElementsOfAByteArray) {
  REQUIRE_FIXTURE_SERVER();
  fetch("/status/404");  // "<html>..."
  VariantHandle body = VariantHandle::adopt(get_property(*request, "responseBody"));
  ASSERT_EQ(body->type, variant_byte_array);
  const int32_t size = variant_to_bytes(*body).size();
  struct Case {
    ArgCell index;
    bool picked;
    char byte;
  } cases[] = {
      {cell_omitted(), true, '<'}, {cell_int(1), true, '<'},    {cell_int(2), true, 'h'},
      {cell_int(-5), true, '<'},   {cell_int(size), true, '>'}, {cell_int(size + 1), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index.low());
    Variant element{};
    ASSERT_EQ(pick_array_element(*body, c.index, element), c.picked);
    if (!c.picked) continue;
    EXPECT_EQ(element.type, variant_byte);
    EXPECT_EQ(char(element.value & 0xFF), c.byte);
  }
  // A value that is no array is its own element.
  Variant number{variant_int32, {}, 7};
  Variant element{};
  EXPECT_TRUE(pick_array_element(number, cell_int(9), element));
  EXPECT_EQ(element.type, variant_int32);
  EXPECT_EQ(element.value, 7u);
}

TEST_F(Automation, EmptyBodyHasNoBytes) {
  REQUIRE_FIXTURE_SERVER();
  fetch("/empty");
  VariantHandle body = VariantHandle::adopt(get_property(*request, "responseBody"));
  ASSERT_EQ(body->type, variant_byte_array);
  EXPECT_EQ(variant_to_bytes(*body).get(), nullptr);
  Variant element{};
  EXPECT_FALSE(pick_array_element(*body, cell_omitted(), element));
}

TEST_F(Automation, ArgumentCellsAndFillers) {
  REQUIRE_FIXTURE_SERVER();
  ASSERT_TRUE(create_object(*request, "WinHttp.WinHttpRequest.5.1"));
  // The address goes flagged; "open" takes it by value, so the variable keeps
  // its own text.
  Text address = Text::copy_of(fixture_address("/status/404").c_str());
  char* const before = address.get();
  const std::string text_before = address.c_str();
  Text method = Text::copy_of("GET");
  const ArgCell open_cells[] = {cell_object(request.get()), cell_text("open"),
                                cell_by_address(method.variable(), tag_text),
                                cell_by_address(address.variable(), tag_text), cell_bool(false)};
  call_method(5, open_cells);
  EXPECT_EQ(request->last_result, 0);
  EXPECT_EQ(address.get(), before);
  EXPECT_EQ(address.c_str(), text_before);

  // With the object, the member and one filler, "send" gets no argument.
  const ArgCell send_cells[] = {cell_object(request.get()), cell_text("send"), cell_omitted()};
  call_method(3, send_cells);
  EXPECT_EQ(request->last_result, 0);

  // The object itself may come flagged, through a variable that holds it.
  AutomationObject* variable = request.get();
  const ArgCell body_cells[] = {cell_by_address(&variable, tag_automation_object), cell_text("responseBody"),
                                cell_omitted()};
  VariantHandle body = VariantHandle::adopt(get_property(3, body_cells));
  EXPECT_EQ(request->last_result, 0);
  EXPECT_GT(variant_to_bytes(*body).size(), 20);
}

}  // namespace
