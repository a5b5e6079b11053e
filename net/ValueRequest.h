// One simulator value asked of the data server: "offset,size,code" and a zero byte out,
// the text of one number back, gathered up to its zero byte however many pieces it comes in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TKvTcpBlockClient;

// The longest reply text taken (without its zero byte); a longer one means the connection no
// longer frames replies, and it is given up.
inline constexpr std::size_t MaxReplyLength = std::size_t(1) << 20;
// A reply without a zero byte is complete once nothing more has come for this long.
inline constexpr int ReplySettleMilliseconds = 250;

// The data server's client, network mode only: made with each window and gone with it.
extern TKvTcpBlockClient* TcpClient;

// Asks the data server held by TcpClient; 0 while it is not connected.
double RequestValue(std::int32_t offset, const std::string& sizeText, const std::string& codeText);
