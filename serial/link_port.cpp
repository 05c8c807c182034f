#include "serial/link_port.h"

#include <chrono>
#include <thread>

#include "serial/port_diagnosis.h"
#include "serial/port_names.h"
#include "serial/settings.h"

namespace orvane::serial {

void ConfigureLinkComm(TSerialComm& comm) {
  comm.SetBaudRate(1000000);
  comm.SetParity(pOdd);
  comm.SetFlowControl(fcNone);
  comm.SetEventChar(0);
  comm.SetCommPort("COM2");
}

LinkPort::LinkPort(TSerialComm* comm, PortChoice& choice, Hooks hooks)
    : comm_(comm), choice_(choice), hooks_(std::move(hooks)) {}

void LinkPort::Log(const std::string& line) {
  if (hooks_.append_log) hooks_.append_log(line);
}

void LinkPort::LoadPortSetting() {
  Log("Загрузка конфигурации...");
  if (const auto name = LoadComPort()) {
    choice_.SetText(*name);
    Log("  настройки порта;");
  }
  Log("Загрузка конфигурации завершена.");
}

void LinkPort::SavePortSetting() {
  Log("Сохранение конфигурации...");
  SaveComPort(choice_.Text());
  Log("  настройки порта;");
  Log("Сохранение конфигурации завершено.");
}

// An Open that returns false (no close event) has not opened the port and
// counts as a failure, like one that throws. A port another program holds
// counts as busy, as an exclusive open finds it: a terminal program that
// does not lock the port would otherwise take the console's bytes. The
// holders are looked for once the port is open and locked, so that a port
// closed and opened again at once is closed only for a moment, and no poll
// of the console falls into the gap; a holder seen for a moment only (a
// flush by the far side) is not one.
bool LinkPort::TryOpen() {
  try {
    if (!comm_->Open()) return false;
  } catch (const std::exception&) {
    return false;
  }
  if (!HeldElsewhere(DeviceFileForPort(comm_->CommPort()))) return true;
  comm_->Close();
  return false;
}

bool LinkPort::HeldElsewhere(const std::string& device) {
  for (int look = 0; look < 3; ++look) {
    if (PortHolders(device).empty()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void LinkPort::ScanPorts() {
  choice_.ClearList();
  Log("Поиск доступных портов:");
  if (comm_ != nullptr) {
    for (int number = kFirstPortNumber; number <= kLastPortNumber; ++number) {
      comm_->Close();
      comm_->SetCommPort("COM" + std::to_string(number));
      if (!TryOpen()) continue;
      choice_.AddToList(comm_->CommPort());
      Log("  найден порт: " + comm_->CommPort() + ";");
    }
    comm_->Close();
  }
  Log("Поиск портов завершен.");
}

LinkPort::Opened LinkPort::OpenLinkPort() {
  if (comm_ == nullptr) {
    Log("Необходим перезапуск программы!");
    return Opened::kNoComponent;
  }
  if (comm_->PortOpen()) {
    if (hooks_.rearm_watchdog) hooks_.rearm_watchdog();
    return Opened::kWasOpen;
  }
  Log("Открытие портa связи:");
  comm_->SetCommPort(choice_.Text());
  if (!TryOpen()) {
    Log(kLogPortFailed);
    return Opened::kFailed;
  }
  comm_->EscapeFunction(TSerialComm::CLRRTS);
  comm_->EscapeFunction(TSerialComm::SETDTR);
  Log("Порт связи открыт. (" + comm_->CommPort() + ")");
  if (hooks_.rearm_watchdog) hooks_.rearm_watchdog();
  return Opened::kOpened;
}

void LinkPort::CloseLinkPort() {
  if (comm_ != nullptr && comm_->PortOpen()) {
    Log("Закрытие порта связи");
    comm_->Close();
    Log("Порт связи закрыт");
  }
  if (hooks_.clear_queue) hooks_.clear_queue();
}

}  // namespace orvane::serial
