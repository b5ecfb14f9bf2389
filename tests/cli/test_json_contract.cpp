// docs/json.md is the contract of every --json document: each command runs against a virtual
// instrument and what it writes is checked against the page's tables, field by field (every
// field written is documented with its type; every documented field is written).
#include "cli_fixture.h"

#include <fstream>
#include <map>
#include <set>

namespace {

using json = nlohmann::ordered_json;

struct field_spec {
    std::vector<std::string> types;  // "string", "integer", "number", "boolean", "object", "array", "null"
    bool optional = false;           // "absent for ..."
};
using section = std::map<std::string, field_spec>;

// The tables of docs/json.md by section: "list", "settings get BLOCK", "block motors", ...
std::map<std::string, section> read_contract() {
    std::ifstream in(VELTRANIC_SOURCE_DIR "/docs/json.md");
    std::map<std::string, section> contract;
    std::string line, current;
    while (std::getline(in, line)) {
        if (line.rfind("## ", 0) == 0) {
            const size_t a = line.find('`'), b = line.find('`', a + 1);
            current = line.substr(a + 1, b - a - 1);
            if (line.rfind("## Block ", 0) == 0) current = "block " + current;
            contract[current];
            continue;
        }
        if (line.rfind("| `", 0) != 0 || current.empty()) continue;
        const size_t a = 3, b = line.find('`', a);
        const std::string path = line.substr(a, b - a);
        const size_t cell = line.find('|', b) + 1;
        std::string type = line.substr(cell, line.find('|', cell) - cell);
        field_spec spec;
        spec.optional = type.find("absent") != std::string::npos;
        type = type.substr(0, type.find(';'));
        size_t at = 0;
        while (at < type.size()) {
            const size_t end = type.find(" or ", at);
            std::string word = type.substr(at, end == std::string::npos ? std::string::npos : end - at);
            word.erase(0, word.find_first_not_of(' '));
            word.erase(word.find_last_not_of(' ') + 1);
            spec.types.push_back(word);
            at = end == std::string::npos ? type.size() : end + 4;
        }
        contract[current][path] = spec;
    }
    return contract;
}

bool has_type(const json& v, const field_spec& spec) {
    for (const std::string& t : spec.types) {
        if ((t == "string" && v.is_string()) || (t == "integer" && v.is_number_integer()) ||
            (t == "number" && v.is_number()) || (t == "boolean" && v.is_boolean()) || (t == "object" && v.is_object()) ||
            (t == "array" && v.is_array()) || (t == "null" && v.is_null()))
            return true;
    }
    return false;
}

class JsonContractTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        contract = read_contract();
        ASSERT_FALSE(contract.empty()) << "docs/json.md was not found";
    }

    // Checks a document against the sections named (their fields together).
    void check(const std::string& what, const cli_result& r, std::vector<std::string> names) {
        SCOPED_TRACE(what);
        ASSERT_EQ(r.rc, CLI_OK) << r.err;
        const json doc = json::parse(r.out, nullptr, false);
        ASSERT_TRUE(doc.is_object()) << r.out;
        check_doc(doc, names);
    }
    void check_doc(const json& doc, std::vector<std::string> names) {
        section merged;
        for (const std::string& n : names) {
            ASSERT_TRUE(contract.count(n)) << "docs/json.md has no section " << n;
            checked.insert(n);
            merged.insert(contract[n].begin(), contract[n].end());
        }
        std::set<std::string> seen;
        walk(doc, merged, "", seen);
        for (const auto& [path, spec] : merged) {
            if (!spec.optional) {
                EXPECT_TRUE(seen.count(path)) << "documented but not written: " << path;
            }
        }
    }

    void walk(const json& object, const section& spec, const std::string& prefix, std::set<std::string>& seen) {
        for (auto it = object.begin(); it != object.end(); ++it) {
            const std::string path = prefix.empty() ? it.key() : prefix + "." + it.key();
            const json& value = it.value();
            if (!spec.count(path) && spec.count(prefix + ".<block>")) {
                // A block by its name: its fields are those of its own section.
                seen.insert(prefix + ".<block>");
                EXPECT_TRUE(value.is_object()) << path;
                check_doc(value, {"block " + it.key()});
                continue;
            }
            const auto found = spec.find(path);
            if (found == spec.end()) {
                ADD_FAILURE() << "written but not documented: " << path;
                continue;
            }
            seen.insert(path);
            EXPECT_TRUE(has_type(value, found->second)) << path << " is " << value.dump();
            if (value.is_object()) walk(value, spec, path, seen);
            if (value.is_array())
                for (const json& element : value)
                    if (element.is_object()) walk(element, spec, path + "[]", seen);
        }
    }

    std::map<std::string, section> contract;
    std::set<std::string> checked;
};

TEST_F(JsonContractTest, EveryDocumentIsWhatTheContractSays) {
    sim_device_config c = named("RIVER-1", 101);
    c.firmware.sampler.fill_log(3, 0);
    auto dev = sim_bus_add(c);
    dev->use_stepped_clock(true);
    dev->with_firmware([](sim_firmware& fw) {
        fw.diag.debug_rate = 0;
        sim_diag_write(fw.diag, 3, 1, "pump", 7, "Flow low");
    });
    sim_device_config other = named("RIVER-2", 102);
    auto second = sim_bus_add(other);
    const std::vector<std::string> one = {"--device", "sim:1"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), one.begin(), one.end());
        args.push_back("--json");
        return run(args);
    };

    check("list", run({"list", "--json"}), {"list"});
    check("info", with({"info"}), {"info"});
    check("status", with({"status"}), {"status"});
    check("sample-log", with({"sample-log"}), {"sample-log"});
    check("diag-log", with({"diag-log"}), {"diag-log"});
    check("clock get", with({"clock", "get"}), {"clock get"});
    check("clock set", with({"clock", "set", "2027-01-01 00:00:00"}), {"clock get"});
    check("schedule get, next", with({"schedule", "get"}), {"schedule get", "block schedule"});
    check("schedule set", with({"schedule", "set", write("s.json", R"({"start": {"option": "at_or_after", "time": "2027-02-03T04:05:06"}})")}),
          {"schedule get", "block schedule"});
    check("schedule get, at or after", with({"schedule", "get"}), {"schedule get", "block schedule"});
    for (const char* block : {"flow-meter", "cleaning", "rs232", "identification", "motors", "pressure", "schedule"})
        check(std::string("settings get ") + block, with({"settings", "get", block}),
              {"settings get BLOCK", std::string("block ") + block});
    check("settings set", with({"settings", "set", "flow-meter", write("f.json", R"({"pulses_per_litre": 9000})")}),
          {"settings get BLOCK", "block flow-meter"});
    check("settings get", with({"settings", "get"}), {"settings get"});
    const cli_result backup = run({"--device", "sim:1", "backup", "-"});
    check("backup", backup, {"backup"});
    const std::string file = write("backup.json", backup.out);
    check("restore", run({"--device", "sim:2", "restore", file, "--yes", "--json"}), {"restore"});

    // Every section of the page was held against a command's document.
    for (const auto& [name, fields] : contract) EXPECT_TRUE(checked.count(name)) << "no command checked against " << name;
}

}  // namespace
