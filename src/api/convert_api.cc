// SPDX-License-Identifier: MIT
// The conversion interface: story pairs to HTML through a template, and single fields,
// without any connection. Thin wrappers: check the arguments, call one operation of
// the environment (a WCHTMLTemplate) or the object (a WCXMLDoc), hand text to the
// callback. Nothing here locks: each handle is used by one thread at a time.
#include <memory>
#include <string>
#include <string_view>

#include "doc/doc_settings.h"
#include "doc/story_paths.h"
#include "doc/xml_doc.h"
#include "owclient/owclient.h"
#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"
#include "template/html_template.h"

struct OBConvertEnvT {
  owc::WCHTMLTemplate tmpl;
};

struct OBConvertObjT {
  owc::WCXMLDoc doc;
};

namespace {

constexpr uint32_t kOk = 0;
constexpr uint32_t kFailed = 1;
constexpr uint32_t kNullHandle = 2;
constexpr uint32_t kNoMemory = 3;

// Every exported function runs its body through this: no exception crosses into C.
// Memory running out anywhere below gives the function's failure value.
template <class Body>
uint32_t Guarded(const char* function, uint32_t onException, Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    owc::TraceLogF(owc::kLevelFailure, "%s out of memory", function);
  } catch (...) {
    owc::TraceLogF(owc::kLevelFailure, "%s unexpected exception", function);
  }
  return onException;
}

// Hands a getter's text (terminated) to the callback: its length without the NUL.
void Deliver(const std::string& text, OBConvertCallback cb, uintptr_t u1, uintptr_t u2) {
  static const uint8_t kEmpty[1] = {0};
  if (text.size() <= 1) {
    cb(kEmpty, 0, u1, u2);
    return;
  }
  cb(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size() - 1), u1, u2);
}

// The common shape of the field getters.
template <class Read>
uint32_t GetField(const char* function, OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                  uintptr_t u2, Read read) {
  return Guarded(function, kFailed, [&]() -> uint32_t {
    if (obj == nullptr) return kNullHandle;
    if (cb == nullptr) return kOk;
    std::string text;
    read(obj->doc, &text);
    Deliver(text, cb, u1, u2);
    return kOk;
  });
}

// The shape of the standard field getters: the document's own text, NUL-terminated,
// goes to the callback without a copy.
template <class View>
uint32_t GetFieldView(const char* function, OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                      uintptr_t u2, View view) {
  return Guarded(function, kFailed, [&]() -> uint32_t {
    if (obj == nullptr) return kNullHandle;
    if (cb == nullptr) return kOk;
    static const uint8_t kEmpty[1] = {0};
    const std::string_view text = view(obj->doc);
    if (text.empty()) {
      cb(kEmpty, 0, u1, u2);
    } else {
      cb(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()), u1, u2);
    }
    return kOk;
  });
}

// A null namespace means the default metadata namespace; "" means none.
const char* NamespaceOrDefault(const char* ns) {
  return ns != nullptr ? ns : owc::kDefaultMetaNamespace;
}

bool AddStandardProperties(owc::WCHTMLTemplate* tmpl) {
  const std::string paths[] = {
      owc::HeadlinePath(), owc::SubheadlinePath(-1), owc::BylinePath(-1), owc::DistributorPath(),
      owc::DatelinePath(), owc::SeriesPath(),        owc::BodyPath(),
  };
  for (const std::string& path : paths) {
    if (!tmpl->AddExtractProp("", path.c_str())) return false;
  }
  return true;
}

}  // namespace

extern "C" {

uint32_t OBConvertNewEnv(const char* tmpl, uint32_t tmplLen, const char* xlate, uint32_t xlateLen,
                         OBConvertEnv* env) {
  if (env == nullptr) return kNullHandle;
  *env = nullptr;
  return Guarded("OBConvertNewEnv", kNoMemory, [&]() -> uint32_t {
    std::unique_ptr<OBConvertEnvT> created(owc::NewOrNull<OBConvertEnvT>());
    if (created == nullptr) return kNoMemory;
    if (!created->tmpl.SetTemplate(tmpl, tmplLen) ||
        !created->tmpl.SetXlateTable(xlate, xlateLen) || !AddStandardProperties(&created->tmpl)) {
      return kFailed;
    }
    *env = created.release();
    return kOk;
  });
}

uint32_t OBConvertFreeEnv(OBConvertEnv env) {
  if (env == nullptr) return kNullHandle;
  return Guarded("OBConvertFreeEnv", kFailed, [&]() -> uint32_t {
    delete env;
    return kOk;
  });
}

uint32_t OBConvertNewObj(uint8_t xmlIsFile, const char* xml, uint32_t xmlLen, uint8_t rdfIsFile,
                         const char* rdf, uint32_t rdfLen, OBConvertObj* obj) {
  if (obj == nullptr) return kNullHandle;
  *obj = nullptr;
  return Guarded("OBConvertNewObj", kNoMemory, [&]() -> uint32_t {
    std::unique_ptr<OBConvertObjT> created(owc::NewOrNull<OBConvertObjT>());
    if (created == nullptr) return kNoMemory;
    const bool xmlFile = xmlIsFile == 1;
    const bool rdfFile = rdfIsFile == 1;
    if (!created->doc.Init(xmlFile, xml, xmlLen, xmlFile ? xml : nullptr, rdfFile, rdf, rdfLen,
                           rdfFile ? rdf : nullptr)) {
      return kFailed;
    }
    *obj = created.release();
    return kOk;
  });
}

uint32_t OBConvertFreeObj(OBConvertObj obj) {
  if (obj == nullptr) return kNullHandle;
  return Guarded("OBConvertFreeObj", kFailed, [&]() -> uint32_t {
    delete obj;
    return kOk;
  });
}

uint32_t OBConvertApplyTemplate(OBConvertEnv env, OBConvertObj obj, OBConvertCallback cb,
                                uintptr_t u1, uintptr_t u2) {
  return Guarded("OBConvertApplyTemplate", kFailed, [&]() -> uint32_t {
    if (env == nullptr || obj == nullptr) return kNullHandle;
    if (!env->tmpl.Generate(&obj->doc)) return kFailed;
    if (cb != nullptr) {
      cb(env->tmpl.GetOutputData(), static_cast<uint32_t>(env->tmpl.GetOutputSize()), u1, u2);
    }
    return kOk;
  });
}

uint32_t OBConvertGetHeadline(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1, uintptr_t u2) {
  return GetFieldView("OBConvertGetHeadline", obj, cb, u1, u2, [](const owc::WCXMLDoc& d) {
    return d.ViewField(owc::kHeadlinePathFormat, 0);
  });
}

uint32_t OBConvertGetSubheadline(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1, uintptr_t u2,
                                 uint32_t index) {
  return GetFieldView("OBConvertGetSubheadline", obj, cb, u1, u2, [index](const owc::WCXMLDoc& d) {
    return d.ViewField(owc::kSubheadlinePathFormat, static_cast<int32_t>(index));
  });
}

uint32_t OBConvertGetByline(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1, uintptr_t u2,
                            uint32_t index) {
  return GetFieldView("OBConvertGetByline", obj, cb, u1, u2, [index](const owc::WCXMLDoc& d) {
    return d.ViewField(owc::kBylinePathFormat, static_cast<int32_t>(index));
  });
}

uint32_t OBConvertGetDistributor(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                                 uintptr_t u2) {
  return GetFieldView("OBConvertGetDistributor", obj, cb, u1, u2, [](const owc::WCXMLDoc& d) {
    return d.ViewField(owc::kDistributorPathFormat, 0);
  });
}

uint32_t OBConvertGetDateline(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1, uintptr_t u2) {
  return GetFieldView("OBConvertGetDateline", obj, cb, u1, u2, [](const owc::WCXMLDoc& d) {
    return d.ViewField(owc::kDatelinePathFormat, 0);
  });
}

uint32_t OBConvertGetSeriesName(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                                uintptr_t u2) {
  return GetFieldView("OBConvertGetSeriesName", obj, cb, u1, u2, [](const owc::WCXMLDoc& d) {
    return d.ViewSeriesAttribute(owc::kSeriesNameAttr);
  });
}

uint32_t OBConvertGetSeriesPart(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                                uintptr_t u2) {
  return GetFieldView("OBConvertGetSeriesPart", obj, cb, u1, u2, [](const owc::WCXMLDoc& d) {
    return d.ViewSeriesAttribute(owc::kSeriesPartAttr);
  });
}

uint32_t OBConvertGetSeriesTotalPart(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                                     uintptr_t u2) {
  return GetFieldView("OBConvertGetSeriesTotalPart", obj, cb, u1, u2, [](const owc::WCXMLDoc& d) {
    return d.ViewSeriesAttribute(owc::kSeriesTotalPartAttr);
  });
}

uint32_t OBConvertGetBody(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1, uintptr_t u2) {
  return GetFieldView("OBConvertGetBody", obj, cb, u1, u2,
                      [](const owc::WCXMLDoc& d) { return d.ViewField(owc::kBodyPathFormat, 0); });
}

uint32_t OBConvertGetProperty(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1, uintptr_t u2,
                              const char* ns, const char* prop, uint8_t valueOnly) {
  if (obj != nullptr && prop == nullptr) return kFailed;
  return GetField("OBConvertGetProperty", obj, cb, u1, u2,
                  [&](const owc::WCXMLDoc& d, std::string* t) {
                    d.GetProperty(NamespaceOrDefault(ns), prop, valueOnly == 1, t, true);
                  });
}

uint32_t OBConvertGetPropertyAttribute(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                                       uintptr_t u2, const char* ns, const char* prop,
                                       const char* attr) {
  if (obj != nullptr && (prop == nullptr || attr == nullptr)) return kFailed;
  return GetField("OBConvertGetPropertyAttribute", obj, cb, u1, u2,
                  [&](const owc::WCXMLDoc& d, std::string* t) {
                    d.GetPropertyAttribute(NamespaceOrDefault(ns), prop, attr, t, true);
                  });
}

uint32_t OBConvertAddParseProperty(OBConvertEnv env, const char* ns, const char* prop) {
  return Guarded("OBConvertAddParseProperty", kFailed, [&]() -> uint32_t {
    if (env == nullptr) return kNullHandle;
    if (prop == nullptr || *prop == '\0') return kFailed;
    return env->tmpl.AddExtractProp(NamespaceOrDefault(ns), prop) ? kOk : kFailed;
  });
}

void OBConvertSetEntityRefOutput(uint32_t mode) { owc::SetEntityRefOutput(mode); }

void OBConvertSetLevelSeparator(char sep) { owc::SetLevelSeparator(sep); }

void OBConvertSetReadOptions(uint32_t options) { owc::SetReadOptions(options); }

uint32_t OBConvertGetReadOptions(void) { return owc::GetReadOptions(); }

}  // extern "C"
