// One simulator value asked of the data server: "offset,size,code" and a zero byte out,
// the text of one number back.
#pragma once

#include <cstdint>
#include <string>

class TKvTcpBlockClient;

// The data server's client, network mode only: made with each window and gone with it.
extern TKvTcpBlockClient* TcpClient;

// Asks the data server held by TcpClient; 0 while it is not connected.
double RequestValue(std::int32_t offset, const std::string& sizeText, const std::string& codeText);
