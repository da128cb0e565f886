#include "base/memory_store.h"

#include <algorithm>
#include <utility>

namespace corvane {

const MemoryStore::Section* MemoryStore::FindSection(std::u16string_view appName,
                                                     std::u16string_view section) const {
  if (lookupValid_ && TextEqual{}(lookupSection_, section) && TextEqual{}(lookupApp_, appName)) return lookupFound_;
  const Section* found = nullptr;
  if (const auto app = apps_.find(appName); app != apps_.end()) {
    if (const auto sec = app->second.find(section); sec != app->second.end()) found = &sec->second;
  }
  lookupApp_.assign(appName);
  lookupSection_.assign(section);
  lookupFound_ = found;
  lookupValid_ = true;
  return found;
}

std::u16string MemoryStore::GetSetting(std::u16string_view appName, std::u16string_view section,
                                       std::u16string_view key, std::u16string_view defaultValue) {
  ++reads_;
  if (const Section* s = FindSection(appName, section)) {
    const auto found = s->find(key);
    if (found != s->end()) return found->second;
  }
  return std::u16string(defaultValue);
}

void MemoryStore::SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                              std::u16string_view value) {
  ++changes_;
  if (failure_) {
    if (failure_->remaining == 0) {
      ++failedSaves_;
      throw AutomationError(failure_->number, failure_->description);
    }
    --failure_->remaining;
  }
  apps_[std::u16string(appName)][std::u16string(section)].insert_or_assign(std::u16string(key),
                                                                           std::u16string(value));
  lookupValid_ = false;  // the section may be new
  ++saves_;
}

std::map<SettingKey, std::u16string> MemoryStore::Snapshot() const {
  std::map<SettingKey, std::u16string> out;
  for (const auto& [appName, sections] : apps_) {
    for (const auto& [sectionName, keys] : sections) {
      for (const auto& [key, value] : keys) out.emplace(SettingKey{appName, sectionName, key}, value);
    }
  }
  return out;
}

std::vector<std::u16string> MemoryStore::Keys(std::u16string_view appName, std::u16string_view section) const {
  std::vector<std::u16string> out;
  if (const Section* s = FindSection(appName, section)) {
    out.reserve(s->size());
    for (const auto& entry : *s) out.push_back(entry.first);
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool MemoryStore::Contains(std::u16string_view appName, std::u16string_view section, std::u16string_view key) const {
  const Section* s = FindSection(appName, section);
  return s != nullptr && s->find(key) != s->end();
}

void MemoryStore::FailSavesAfter(std::size_t successfulSaves, std::int32_t number, std::u16string description) {
  failure_ = Failure{successfulSaves, number, std::move(description)};
}

}  // namespace corvane
