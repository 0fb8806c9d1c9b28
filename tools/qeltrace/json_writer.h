// A small writer of JSON text: strings escaped, commas placed.
#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>

namespace qeltrace {

class JsonWriter {
  public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}
    JsonWriter& Begin(char bracket);  // '{' or '['
    JsonWriter& End(char bracket);
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::string_view text);
    JsonWriter& Number(int64_t value);
    JsonWriter& Number(uint64_t value);
    JsonWriter& Bool(bool value);
    // A text as a JSON string, with '<' escaped too so that it can stand in
    // an HTML page's script.
    static void Quote(std::string_view text, std::ostream& out);

  private:
    void Separate();
    std::ostream& out_;
    bool first_ = true;
    bool afterKey_ = false;
};

}  // namespace qeltrace
