#include "utility/widgets/qrb_application.h"

#include <QCoreApplication>
#include <QTimer>

#include "platform/bundle/bundle.h"
#include "platform/widgets/documents.h"

namespace QRBApplication {

namespace {

void AppendStrings(const platform::Dictionary& entry, std::string_view key,
                   std::vector<std::string>* types) {
  const platform::Value* list = entry.Find(key);
  if (list == nullptr || !list->IsArray()) return;
  for (const platform::Value& type : list->array()) {
    if (type.IsString()) types->push_back(type.string());
  }
}

}  // namespace

void safeQuit(QObject* /*sender*/) {
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr) return;
  QTimer::singleShot(1000, application, [] { platform::TerminateSafely(); });
}

void forceQuit(QObject* /*sender*/) {
  for (QWidget* document : platform::OpenDocuments()) {
    platform::UpdateChangeCount(document, platform::NSChangeCleared);
  }
  platform::Terminate();
}

std::vector<std::string> allDocumentTypes() {
  std::vector<std::string> types;
  std::shared_ptr<const platform::Bundle> bundle = platform::MainBundle();
  const platform::Value* entries = bundle->objectForInfoDictionaryKey("CFBundleDocumentTypes");
  if (entries == nullptr || !entries->IsArray()) return types;
  for (const platform::Value& entry : entries->array()) {
    if (!entry.IsDictionary()) continue;
    AppendStrings(entry.dictionary(), "CFBundleTypeExtensions", &types);
    AppendStrings(entry.dictionary(), "CFBundleTypeOSTypes", &types);
  }
  return types;
}

}  // namespace QRBApplication
