#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kestrove {

struct JsonValue;

// A JSON object whose keys are always in ascending byte order, which is what
// the writer relies on for sorted output. Kept as a sorted vector: replies
// are small and built once, so one buffer beats a node per key.
class JsonObject {
 public:
  using value_type = std::pair<std::string, JsonValue>;
  using Entries = std::vector<value_type>;
  using iterator = Entries::iterator;
  using const_iterator = Entries::const_iterator;

  JsonObject() = default;
  // Like a map: of keys given twice, the first stays.
  JsonObject(std::initializer_list<value_type> entries);

  JsonValue& operator[](std::string_view key);
  JsonValue& at(std::string_view key);
  const JsonValue& at(std::string_view key) const;
  iterator find(std::string_view key);
  const_iterator find(std::string_view key) const;
  bool contains(std::string_view key) const;
  std::size_t count(std::string_view key) const;
  // Adds the entry unless the key is there; the entry with that key either way.
  std::pair<iterator, bool> emplace(std::string key, JsonValue value);
  std::pair<iterator, bool> insert(value_type entry);
  std::pair<iterator, bool> insert_or_assign(std::string key, JsonValue value);
  std::size_t erase(std::string_view key);

  iterator begin();
  iterator end();
  const_iterator begin() const;
  const_iterator end() const;
  std::size_t size() const;
  bool empty() const;
  void clear();
  void reserve(std::size_t n);

  bool operator==(const JsonObject& other) const;

 private:
  iterator lowerBound(std::string_view key);
  const_iterator lowerBound(std::string_view key) const;

  Entries entries_;
};

using JsonArray = std::vector<JsonValue>;

struct JsonValue {
  using Storage =
      std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, JsonArray, JsonObject>;
  Storage value;

  JsonValue() : value(nullptr) {}
  JsonValue(std::nullptr_t) : value(nullptr) {}
  JsonValue(bool b) : value(b) {}
  JsonValue(int i) : value(static_cast<std::int64_t>(i)) {}
  JsonValue(std::int64_t i) : value(i) {}
  JsonValue(std::uint32_t i) : value(static_cast<std::int64_t>(i)) {}
  JsonValue(double d) : value(d) {}
  JsonValue(const char* s) : value(std::string(s)) {}
  JsonValue(std::string s) : value(std::move(s)) {}
  JsonValue(JsonArray a) : value(std::move(a)) {}
  JsonValue(JsonObject o) : value(std::move(o)) {}

  bool operator==(const JsonValue& other) const = default;
};

inline JsonObject::JsonObject(std::initializer_list<value_type> entries) {
  entries_.reserve(entries.size());
  for (const auto& entry : entries) insert(entry);
}

inline JsonObject::iterator JsonObject::lowerBound(std::string_view key) {
  return std::lower_bound(entries_.begin(), entries_.end(), key,
                          [](const value_type& entry, std::string_view k) { return entry.first < k; });
}

inline JsonObject::const_iterator JsonObject::lowerBound(std::string_view key) const {
  return std::lower_bound(entries_.begin(), entries_.end(), key,
                          [](const value_type& entry, std::string_view k) { return entry.first < k; });
}

inline JsonObject::iterator JsonObject::find(std::string_view key) {
  auto at = lowerBound(key);
  return at != entries_.end() && at->first == key ? at : entries_.end();
}

inline JsonObject::const_iterator JsonObject::find(std::string_view key) const {
  auto at = lowerBound(key);
  return at != entries_.end() && at->first == key ? at : entries_.end();
}

inline std::pair<JsonObject::iterator, bool> JsonObject::emplace(std::string key, JsonValue value) {
  // Keys usually come in order: try the end first.
  if (entries_.empty() || entries_.back().first < key) {
    entries_.emplace_back(std::move(key), std::move(value));
    return {entries_.end() - 1, true};
  }
  auto at = lowerBound(key);
  if (at != entries_.end() && at->first == key) return {at, false};
  return {entries_.emplace(at, std::move(key), std::move(value)), true};
}

inline std::pair<JsonObject::iterator, bool> JsonObject::insert(value_type entry) {
  return emplace(std::move(entry.first), std::move(entry.second));
}

inline std::pair<JsonObject::iterator, bool> JsonObject::insert_or_assign(std::string key, JsonValue value) {
  auto at = lowerBound(key);
  if (at != entries_.end() && at->first == key) {
    at->second = std::move(value);
    return {at, false};
  }
  return {entries_.emplace(at, std::move(key), std::move(value)), true};
}

inline JsonValue& JsonObject::operator[](std::string_view key) {
  auto at = lowerBound(key);
  if (at != entries_.end() && at->first == key) return at->second;
  return entries_.emplace(at, std::string(key), JsonValue())->second;
}

inline JsonValue& JsonObject::at(std::string_view key) {
  auto found = find(key);
  if (found == entries_.end()) throw std::out_of_range("JsonObject::at");
  return found->second;
}

inline const JsonValue& JsonObject::at(std::string_view key) const {
  auto found = find(key);
  if (found == entries_.end()) throw std::out_of_range("JsonObject::at");
  return found->second;
}

inline std::size_t JsonObject::erase(std::string_view key) {
  auto found = find(key);
  if (found == entries_.end()) return 0;
  entries_.erase(found);
  return 1;
}

inline bool JsonObject::contains(std::string_view key) const { return find(key) != end(); }
inline std::size_t JsonObject::count(std::string_view key) const { return contains(key) ? 1 : 0; }
inline JsonObject::iterator JsonObject::begin() { return entries_.begin(); }
inline JsonObject::iterator JsonObject::end() { return entries_.end(); }
inline JsonObject::const_iterator JsonObject::begin() const { return entries_.begin(); }
inline JsonObject::const_iterator JsonObject::end() const { return entries_.end(); }
inline std::size_t JsonObject::size() const { return entries_.size(); }
inline bool JsonObject::empty() const { return entries_.empty(); }
inline void JsonObject::clear() { entries_.clear(); }
inline void JsonObject::reserve(std::size_t n) { entries_.reserve(n); }

inline bool JsonObject::operator==(const JsonObject& other) const { return entries_ == other.entries_; }

}  // namespace kestrove
