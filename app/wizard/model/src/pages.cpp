#include "wizard_model/pages.h"

#include <array>
#include <stdexcept>

#include "distribution/codepage.h"

namespace dorvik {

namespace {

ControlSpec Control(ControlKind kind, const char* name, std::string text) {
  ControlSpec control;
  control.kind = kind;
  control.name = name;
  control.text = std::move(text);
  return control;
}

ControlSpec Label(const char* name, const char* utf8) { return Control(ControlKind::Text, name, Ru(utf8)); }

ControlSpec Hidden(ControlSpec control) {
  control.visible = false;
  return control;
}

ControlSpec Memo(const char* name, const char* utf8, int width, int height, bool framed, Scrollbars bars) {
  ControlSpec memo = Control(ControlKind::Memo, name, Ru(utf8));
  memo.width = width;
  memo.height = height;
  memo.framed = framed;
  memo.scrollbars = bars;
  return memo;
}

ControlSpec Edit(const char* name, const char* text, int width, int maxLength = 0, bool digitsOnly = false) {
  ControlSpec edit = Control(ControlKind::Edit, name, text);
  edit.width = width;
  edit.maxLength = maxLength;
  edit.digitsOnly = digitsOnly;
  return edit;
}

ButtonSpec Button(const char* name, const char* utf8, Action action, int slot, bool isDefault = false) {
  return {name, Ru(utf8), action, slot, isDefault};
}

std::array<PageSpec, kPageCount> BuildLayouts() {
  ControlSpec list = Control(ControlKind::List, "llNS", "");
  list.width = 177;
  list.height = 97;
  list.hint = Ru("Выберите область");
  ControlSpec picture = Control(ControlKind::Picture, "Image2", "");
  picture.width = picture.height = 40;

  return {{
      {Page::tsMain,
       "tsMain",
       {picture,
        Control(ControlKind::Heading, "lbWelcome", Ru("Вас приветствует установщик программ Velmora для Cache")),
        Memo("mmProductInfo", "Эта программа установит: ", 0, 70, false, Scrollbars::None),
        Label("lbCancelHint", "Нажмите \"Отмена\" для выхода из программы "),
        Label("lbGoHint", "Для продолжения установки нажмите \"Далее\"")},
       {Button("bt0go", "Далее", Action::act0go, 1, true), Button("bt0Cancel", "Отмена", Action::actExit, 2)}},
      {Page::tsLicence,
       "tsLicence",
       {Label("lbReadLicence", "Прочитайте это Лицензионное Соглашение"),
        Label("lbPageDown", "Для просмотра всего текста нажмите Page Down"),
        Memo("mmLicence", "", 361, 184, true, Scrollbars::Vertical),
        Label("lbAccept1", "Если Вы принимаете условия Лицензионного Соглашения,"),
        Label("lbAccept2", "нажмите ДА для продолжения установки")},
       {Button("Button1", "Назад", Action::act1Back, 0), Button("bt1Yes", "Да", Action::act1Yes, 1),
        Button("Bt1No", "Нет", Action::actExit, 2)}},
      {Page::tsParams,
       "tsParams",
       {Label("lbParams", "Введите параметры, необходимые для подключения \nк серверу Cache"),
        Label("lbIP", "IP адрес"), Edit("edIP", "127.0.0.1", 121), Label("lbPort", "Порт"),
        Edit("mePort", "1972", 49, 4, true),
        // Present in the window but not used by the program.
        Hidden(Edit("meIP", "", 121)), Hidden(Label("lbNS", "Область")), Hidden(Edit("meNS", "", 121)),
        Label("lbParamsDone", "Если все параметры введены, нажмите Далее")},
       {Button("bt2Back", "Назад", Action::act2Back, 0), Button("bt2Go", "Далее", Action::act2go, 1, true),
        Button("bt2Cancel", "Отмена", Action::actExit, 2)}},
      {Page::tsNS,
       "tsNS",
       {Label("lbChoose", "Выберите область, в которой установить дистрибутив\nНажмите \"Далее\""),
        Label("Label6", "Доступны области:"), list, Hidden(Control(ControlKind::Notice, "lbCachelib", "")),
        Control(ControlKind::Check, "chSPass", Ru("Сохранять исходные тексты")),
        Control(ControlKind::Check, "chNoRestore", Ru("НЕ восстанавливать программы")),
        Control(ControlKind::Check, "chNoAfter", Ru("НЕ выполнять последействия"))},
       {Button("Button4", "Назад", Action::act25back, 0), Button("Button2", "Далее", Action::act25go, 1, true),
        Button("Button3", "Отмена", Action::actExit, 2)}},
      {Page::tsInstall,
       "tsInstall",
       {Label("lbReady",
              "Программа готова к установке дистрибутива\n"
              "Проверьте текущие параметры и нажмите  Установить,\n"
              "если все правильно"),
        Label("lbSettings", "Текущие настройки:"), Memo("mmSettings", "", 359, 185, true, Scrollbars::Both)},
       {Button("bt3Back", "Назад", Action::act3back, 0),
        Button("bt3Install", "Установить", Action::act3Install, 1, true),
        Button("bt3Cancel", "Отмена", Action::actExit, 2)}},
      {Page::tsFinal,
       "tsFinal",
       {Control(ControlKind::Outcome, "mmSuccess", Ru("Установка дистрибутива успешно завершена.")),
        Control(ControlKind::Outcome, "mmFailed",
                Ru("Установка дистрибутива не была завершена\n"
                   "Сохраните протокол установки и обратитеcь к разработчику \n"
                   "дистрибутива")),
        Control(ControlKind::Check, "chProtocol", Ru("Просмотреть протокол установки"))},
       {Button("btFin", "Выход", Action::actFin, 2, true)}},
  }};
}

const std::array<PageSpec, kPageCount>& Layouts() {
  static const std::array<PageSpec, kPageCount> layouts = BuildLayouts();
  return layouts;
}

constexpr std::array<const char*, kActionCount> kActionNames = {
    "act0go",   "act1Yes",     "act1Back", "act2Back", "act2go",    "act25back", "act25go",
    "act3back", "act3Install", "actFin",   "actExit",  "actSoPass", "actNoRes",  "actNoAfter",
};

}  // namespace

const ButtonSpec* PageSpec::DefaultButton() const {
  for (const ButtonSpec& button : buttons) {
    if (button.isDefault) return &button;
  }
  return nullptr;
}

const ControlSpec* PageSpec::FindControl(std::string_view controlName) const {
  for (const ControlSpec& control : controls) {
    if (control.name == controlName) return &control;
  }
  return nullptr;
}

const ButtonSpec* PageSpec::FindButton(std::string_view buttonName) const {
  for (const ButtonSpec& button : buttons) {
    if (button.name == buttonName) return &button;
  }
  return nullptr;
}

const PageSpec& PageLayout(Page page) { return Layouts().at(static_cast<std::size_t>(page)); }

const char* PageName(Page page) {
  static constexpr std::array<const char*, kPageCount> names = {"tsMain", "tsLicence", "tsParams",
                                                                "tsNS",   "tsInstall", "tsFinal"};
  return names.at(static_cast<std::size_t>(page));
}

const char* ActionName(Action action) { return kActionNames.at(static_cast<std::size_t>(action)); }

const char* CheckName(Check check) {
  static constexpr std::array<const char*, kCheckCount> names = {"chSPass", "chNoRestore", "chNoAfter", "chProtocol"};
  return names.at(static_cast<std::size_t>(check));
}

const char* FieldName(Field field) { return field == Field::edIP ? "edIP" : "mePort"; }

const std::string& ActionCaption(Action action) {
  static const std::array<std::string, kActionCount> captions = [] {
    const PageSpec& ns = PageLayout(Page::tsNS);
    return std::array<std::string, kActionCount>{
        Ru("Далее"),
        Ru("Да"),
        Ru("Назад"),
        Ru("Назад"),
        Ru("Далее"),
        Ru("Назад"),
        Ru("Далее"),
        Ru("Назад"),
        Ru("Установить"),
        Ru("Выход"),
        Ru("Выход из установки"),
        ns.FindControl("chSPass")->text,
        ns.FindControl("chNoRestore")->text,
        ns.FindControl("chNoAfter")->text,
    };
  }();
  return captions.at(static_cast<std::size_t>(action));
}

std::optional<Action> ActionOfCheck(Check check) {
  switch (check) {
    case Check::chSPass:
      return Action::actSoPass;
    case Check::chNoRestore:
      return Action::actNoRes;
    case Check::chNoAfter:
      return Action::actNoAfter;
    case Check::chProtocol:
      break;
  }
  return std::nullopt;
}

}  // namespace dorvik
