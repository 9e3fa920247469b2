#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TInfo;
}

namespace zfuse {

// The maker's contact details for the info window. The mail and web lines are links.
inline constexpr const char* kMakerName = "Zokara Elektronik GmbH";
inline constexpr const char* kMakerStreet = "Werkstraße 17";
inline constexpr const char* kMakerTown = "D-34567 Talheim, Germany";
inline constexpr const char* kMakerMail = "service@zokara.example.com";
inline constexpr const char* kMakerWeb = "www.zokara.example.com";
inline constexpr const char* kMakerPhone = "Phone +49 (0)5678 9012-0";
inline constexpr const char* kMakerFax = "Fax +49 (0)5678 9012-99";
inline constexpr const char* kMakerRights = "© 2026 Zokara GmbH";

// The info window: the program's version line, the maker's banner, logo and contact
// details with the mail and web addresses as links; "OK" hides it. The same in both
// languages.
class TInfo : public QWidget {
  Q_OBJECT

 public:
  explicit TInfo(QWidget* parent = nullptr);
  ~TInfo() override;

  void FormCreate();
  void Button1Click() { close(); }
  void StaticText7Click();
  void StaticText8Click();
  void setVersionLine(const QString& text);

 private:
  std::unique_ptr<Ui::TInfo> ui;
};

}  // namespace zfuse
