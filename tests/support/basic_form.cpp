#include "support/basic_form.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace ornat::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ornat-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(path_ + "/" + name, std::ios::binary);
  out << content;
}

BasicForm::BasicForm(int screen_height) {
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
  form = std::make_unique<TForm1>(env);
}

void BasicForm::Create() {
  gate.Enter([this] { form->FormCreate(form.get()); });
}

}  // namespace ornat::testing
