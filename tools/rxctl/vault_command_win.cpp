// rxctl vault: runs one operation of the vault driver channel and prints its result as
// 8 upper-case hexadecimal digits and a line feed. Exit 0 when the result is not
// negative, 1 when it is negative, 2 for a usage error (message and usage on standard
// error).
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/text_units.h"
#include "tools/rxctl/usage.h"

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/guid_text_win.h"
#include "foundation/hex_digits.h"
#include "foundation/kv_memory.h"
#include "foundation/text_length.h"
#include "vault/vault_driver_com_win.h"

namespace {

int vault_usage_error(const std::string& message) { return usage_error("vault", message); }

int print_result(HRESULT result) {
    const std::string line = text_units::to_hex32(static_cast<std::uint32_t>(result)) + "\n";
    unsigned long error = 0;
    if (!write_standard_output(line, error)) return exit_usage_or_io;
    if (result < 0) write_standard_error("rxctl vault: " + hresult_words(result) + "\n");
    return result < 0 ? exit_operation_failed : exit_success;
}

bool parse_key_bytes(const wchar_t* text, std::vector<std::uint8_t>& bytes) {
    // Room for all of it at once: a growing vector would leave unwiped copies behind.
    const std::size_t digits = kv_text_length(text);
    bytes.reserve(digits / 2 + 1);
    std::uint32_t v = 0;
    while (*text != 0) {
        if (!read_hex_digits(text, 2, v)) return false;
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

bool parse_kind(const wchar_t* text, std::uint8_t& kind) {
    unsigned value = 0;
    if (*text == 0) return false;
    for (; *text != 0; ++text) {
        if (*text < L'0' || *text > L'9') return false;
        value = value * 10 + static_cast<unsigned>(*text - L'0');
        if (value > 255) return false;
    }
    kind = static_cast<std::uint8_t>(value);
    return true;
}

// The user identifier as the service passes it: the ANSI code page form of the text.
bool to_ansi(const wchar_t* text, std::string& ansi) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return false;
    ansi.assign(static_cast<std::size_t>(size), '\0');
    if (::WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), size, nullptr, nullptr) != size) return false;
    ansi.resize(static_cast<std::size_t>(size - 1));
    return true;
}

std::u16string units_of(const wchar_t* text) {
    std::u16string units;
    for (; *text != 0; ++text) units += static_cast<char16_t>(*text);
    return units;
}

// The key record given on the command line.
class command_line_key final : public lkey_source, public lkey_descriptor {
public:
    std::uint8_t kind = 0;
    std::vector<std::uint8_t> key_data;
    vault_key_id id{};
    bool flag = false;
    bool has_text1 = false, has_text2 = false, has_key_text = false;
    std::u16string text1, text2, key_text;

    bool get_flag() override { return flag; }
    std::int32_t get_descriptor(lkey_descriptor** descriptor) override {
        *descriptor = this;
        return 1;
    }
    std::int32_t get_kind(std::uint8_t* out) override {
        *out = kind;
        return 1;
    }
    std::int32_t get_key_text(const char16_t** text) override {
        *text = has_key_text ? key_text.c_str() : nullptr;
        return 1;
    }
    std::int32_t get_key_data(const std::uint8_t** data, std::uint32_t* count) override {
        *data = key_data.data();
        *count = static_cast<std::uint32_t>(key_data.size());
        return 1;
    }
    std::int32_t get_id(vault_key_id* out) override {
        *out = id;
        return 1;
    }
    std::int32_t get_descriptor_text1(const char16_t** text) override {
        *text = has_text1 ? text1.c_str() : nullptr;
        return 1;
    }
    std::int32_t get_descriptor_text2(const char16_t** text) override {
        *text = has_text2 ? text2.c_str() : nullptr;
        return 1;
    }
    ~command_line_key() {
        // Key material: wiped before the containers give their memory back.
        kv_memory::wipe(key_data.data(), key_data.size());
        kv_memory::wipe(key_text.data(), key_text.size() * sizeof(char16_t));
    }
};

int run_user_operation(int argc, wchar_t** argv, bool unload_keys) {
    if (argc > 1) return vault_usage_error("too many arguments");
    std::string sid;
    if (argc == 1 && !to_ansi(argv[0], sid)) return vault_usage_error("the SID cannot be written in the ANSI code page");
    const char* user = argc == 1 ? sid.c_str() : nullptr;
    VX_vault_driver_com channel;
    return print_result(unload_keys ? channel.unload_user_bkeys(user) : channel.remove_sso_data(user));
}

int run_unload_lkey(int argc, wchar_t** argv) {
    if (argc != 1) return vault_usage_error("unload-lkey takes one {GUID}");
    GUID id{};
    if (!guid_from_text(argv[0], id)) return vault_usage_error("'" + argument_text(argv[0]) + "' is not a {GUID}");
    VX_vault_driver_com channel;
    return print_result(channel.unload_lkey(&id));
}

int run_load_lkey(int argc, wchar_t** argv) {
    command_line_key key;
    bool has_kind = false, has_key = false, has_id = false;
    for (int i = 0; i < argc; ++i) {
        const wchar_t* option = argv[i];
        if (argument_is(option, "--flag")) {
            key.flag = true;
            continue;
        }
        const bool known = argument_is(option, "--kind") || argument_is(option, "--key") ||
                           argument_is(option, "--id") || argument_is(option, "--text1") ||
                           argument_is(option, "--text2") || argument_is(option, "--key-text");
        if (!known) return vault_usage_error("unknown load-lkey argument '" + argument_text(option) + "'");
        if (i + 1 >= argc) return vault_usage_error(argument_text(option) + " needs a value");
        const wchar_t* value = argv[++i];
        if (argument_is(option, "--kind")) {
            if (!parse_kind(value, key.kind)) return vault_usage_error("--kind takes a number from 0 to 255");
            has_kind = true;
        } else if (argument_is(option, "--key")) {
            key.key_data.clear();
            if (!parse_key_bytes(value, key.key_data))
                return vault_usage_error("--key takes an even number of hexadecimal digits");
            has_key = true;
        } else if (argument_is(option, "--id")) {
            GUID guid{};
            if (!guid_from_text(value, guid)) return vault_usage_error("--id takes a {GUID}");
            key.id = {guid.Data1, guid.Data2, guid.Data3, {}};
            for (int b = 0; b < 8; ++b) key.id.data4[b] = guid.Data4[b];
            has_id = true;
        } else if (argument_is(option, "--text1")) {
            key.text1 = units_of(value);
            key.has_text1 = true;
        } else if (argument_is(option, "--text2")) {
            key.text2 = units_of(value);
            key.has_text2 = true;
        } else {
            key.key_text = units_of(value);
            key.has_key_text = true;
        }
    }
    if (!has_kind || !has_key || !has_id) return vault_usage_error("load-lkey needs --kind, --key and --id");
    VX_vault_driver_com channel;
    return print_result(channel.load_lkey(&key));
}

}  // namespace

int run_vault_command(int argc, wchar_t** argv) {
    if (argc < 1) return vault_usage_error("no operation given");
    const wchar_t* operation = argv[0];
    const int rest_count = argc - 1;
    wchar_t** rest = argv + 1;
    if (argument_is(operation, "unload-user-bkeys")) return run_user_operation(rest_count, rest, true);
    if (argument_is(operation, "remove-sso-data")) return run_user_operation(rest_count, rest, false);
    if (argument_is(operation, "unload-lkey")) return run_unload_lkey(rest_count, rest);
    if (argument_is(operation, "load-lkey")) return run_load_lkey(rest_count, rest);
    if (argument_is(operation, "send-op5")) {
        if (rest_count != 0) return vault_usage_error("send-op5 takes no arguments");
        VX_vault_driver_com channel;
        return print_result(channel.send_operation_5());
    }
    return vault_usage_error("unknown operation '" + argument_text(operation) + "'");
}
