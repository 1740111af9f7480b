#include "support/basic_form.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace ornat::testing {

TempDir::TempDir() {
  // A name nobody has taken: create_directory tells whether this call made it.
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "ornat-test-%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec)) {
      path_ = dir.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(path_ + "/" + name, std::ios::binary);
  out << content;
}

BasicForm::BasicForm(int screen_height, bool hold_line, std::vector<NamedLine> named_lines) {
  FormEnvironment env;
  env.scheduler = &clock;
  env.gate = &gate;
  env.dispatcher = &dispatcher;
  env.dialogs = &dialogs;
  env.device = &device;
  env.ports = &ports;
  env.working_dir = dir.path();
  env.screen_height = screen_height;
  env.vscroll_width = 17;
  env.hold_line = hold_line;
  env.named_lines = std::move(named_lines);
  form = std::make_unique<TForm1>(env);
}

void BasicForm::Create() {
  gate.Enter([this] { form->FormCreate(form.get()); });
}

}  // namespace ornat::testing
