// The test control through COM, as the installer reaches it: the members by
// name and dispatch identifier, property get and put with the variant types
// the installer passes, texts in code page 1251 both ways, and the error of
// a server that cannot be reached.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "link/vism_link.h"

namespace dorvik {
namespace {

class VismControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"VISM.VisMCtrl.1", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d_)),
              S_OK);
  }
  void TearDown() override {
    if (d_ != nullptr) d_->Release();
    CoUninitialize();
  }

  HRESULT Put(DISPID id, VARIANT value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    return d_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
  }
  HRESULT Get(DISPID id, VARIANT& out) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VariantInit(&out);
    return d_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &out, nullptr, nullptr);
  }

  IDispatch* d_ = nullptr;
};

TEST_F(VismControlTest, NamesMapToTheControlsDispatchIdentifiers) {
  const wchar_t* names[] = {L"MServer",   L"NameSpace", L"Code", L"ExecFlag", L"Error",
                            L"ErrorName", L"P1",        L"P2",   L"Value",    L"Execute"};
  const DISPID expected[] = {25, 18, 14, 21, 15, 16, 1, 2, 20, 26};
  for (std::size_t i = 0; i < std::size(names); ++i) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(names[i]);
    EXPECT_EQ(d_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, expected[i]);
  }
  VARIANT v;
  EXPECT_EQ(Get(99, v), DISP_E_MEMBERNOTFOUND);
}

TEST_F(VismControlTest, PropertiesTakeTheVariantTypesTheInstallerPasses) {
  VARIANT n;
  VariantInit(&n);
  n.vt = VT_I4;
  n.lVal = 42;
  ASSERT_EQ(Put(1, n), S_OK);
  VARIANT out;
  ASSERT_EQ(Get(1, out), S_OK);
  ASSERT_EQ(out.vt, VT_BSTR);
  EXPECT_STREQ(out.bstrVal, L"42");
  VariantClear(&out);

  VARIANT flag;
  VariantInit(&flag);
  flag.vt = VT_I2;
  flag.iVal = 0;
  EXPECT_EQ(Put(21, flag), S_OK);  // 0 runs nothing
  ASSERT_EQ(Get(21, out), S_OK);
  EXPECT_EQ(out.vt, VT_I2);
  EXPECT_EQ(out.iVal, 0);

  VARIANT error;
  VariantInit(&error);
  error.vt = VT_I4;
  error.lVal = 0;
  EXPECT_EQ(Put(15, error), S_OK);
  error.lVal = 3;
  EXPECT_EQ(Put(15, error), DISP_E_OVERFLOW);        // only clearing is meaningful
  EXPECT_EQ(Put(16, error), DISP_E_MEMBERNOTFOUND);  // ErrorName is read-only
}

TEST_F(VismControlTest, TextsCrossInTheSystemCodePageBothWays) {
  VismLink link;
  EXPECT_EQ(link.CodePage(), GetACP());
  // Every byte the installer may hold in a parameter, Cyrillic included.
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  link.SetParam(1, all);
  EXPECT_EQ(link.GetParam(1), all);
  link.SetParam(2, Ru("Настройка базы"));
  EXPECT_EQ(link.GetParam(2), Ru("Настройка базы"));
  link.SetValue(Cp1251ToCp866(Ru("Ответ")));
  EXPECT_EQ(link.GetValue(), Cp1251ToCp866(Ru("Ответ")));
}

// The control turns wide strings into the server's bytes with the system's
// code page, so the link must use the same one: a link fixed at another
// code page (1251 on a system that is not Russian) hands the control other
// characters, which come back as other bytes.
TEST_F(VismControlTest, OnlyTheSystemCodePageCarriesTheTextThrough) {
  const std::string text = Ru("Настройка базы");
  const UINT system = GetACP();
  const UINT other = system == 1251 ? 1252 : 1251;
  struct Case {
    UINT linkCodePage;
    bool carried;
  } cases[] = {{0, true}, {system, true}, {other, false}};
  for (const Case& c : cases) {
    VismLink link(c.linkCodePage);
    EXPECT_EQ(link.CodePage(), c.linkCodePage == 0 ? system : c.linkCodePage);
    link.SetParam(1, text);
    // Another code page gives other bytes, or characters it lacks: an error.
    bool carried = false;
    try {
      carried = link.GetParam(1) == text;
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(carried, c.carried) << "link code page " << c.linkCodePage << ", system " << system;
  }
}

// A value the link cannot turn into the installer's text is an error, never
// an empty text or 0 that would read as success.
TEST_F(VismControlTest, AValueWithoutATextFormIsAnError) {
  VismLink link;
  struct Case {
    const char* value;
    const char* said;
  } cases[] = {{"no text form", "значение свойства не текст"},
               {"not in the code page", "текст свойства не переводится в кодовую страницу"}};
  for (const Case& c : cases) {
    link.SetValue(std::string("\x01") + c.value);
    try {
      link.GetValue();
      ADD_FAILURE() << c.value << ": read as if it were a text";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(Ru(c.said)), std::string::npos) << c.value;
    }
  }
  link.SetValue("plain");
  EXPECT_EQ(link.GetValue(), "plain");
}

TEST_F(VismControlTest, AServerThatCannotBeReachedIsAnErrorOfTheExecution) {
  VismLink link;
  // Port 1 on loopback: nothing listens there.
  link.SetServer(BuildServerString("127.0.0.1", "1"));
  link.SetNamespace("%SYS");
  EXPECT_EQ(link.Evaluate("$ZNSPACE"), "");
  EXPECT_NE(link.ErrorCode(), 0);
  EXPECT_NE(link.ErrorText().find("<LINK>"), std::string::npos) << link.ErrorText();
  EXPECT_EQ(link.GetServer(), BuildServerString("127.0.0.1", "1"));
  link.ClearError();
  EXPECT_EQ(link.ErrorCode(), 0);
}

}  // namespace
}  // namespace dorvik
