// Moving the publishing settings between the open document and the SettingsStore.
#pragma once
#include <string>

#include "vireo/document_link.h"
#include "vireo/settings_store.h"

namespace vireo {

// A positive decimal count ("com.kite.vesper.included.count"); 0 for anything else.
unsigned parseCount(const std::wstring& text);
// Values the document answers with empty text or "0" never replace stored ones.
void loadDocumentSettings(DocumentLink& document, SettingsStore& store);
// Empty stored values are deleted from the document, the others written; then the included items.
void saveDocumentSettings(DocumentLink& document, SettingsStore& store);
// True when the document is no longer where its movie was last published from.
bool documentMoved(DocumentLink& document);
// LMV folder + base name + "-app.xml" from the store.
std::wstring defaultDescriptorPath(SettingsStore& store);
bool descriptorExists(DocumentLink& document, SettingsStore& store);
// The custom descriptor the document names, or empty when it uses the default one.
std::wstring customDescriptorPath(DocumentLink& document);

}  // namespace vireo
