// SPDX-License-Identifier: MIT
#include "fetch_failure.h"

#include "gbk_literal.h"

namespace lirevo {

const std::string& fetchFailureMessage(FetchFailure failure) {
  switch (failure) {
    case FetchFailure::TransportMissing:
      return "700 当前系统不支持WinHttp服务!"_gbk;
    case FetchFailure::BadUrl:
      return "701 解析URL地址失败!"_gbk;
    case FetchFailure::Session:
      return "702 创建WinHttp会话失败!"_gbk;
    case FetchFailure::Connection:
      return "703 创建WinHttp连接失败!"_gbk;
    case FetchFailure::Request:
      return "704 创建WinHttp请求失败!"_gbk;
    case FetchFailure::Timeouts:
      return "705 设置超时时间失败!"_gbk;
    case FetchFailure::Credentials:
      return "707 设置代理凭证失败!"_gbk;
    case FetchFailure::Cookies:
      return "708 禁止自动设置Cookies失败!"_gbk;
    case FetchFailure::Redirects:
      return "709 重定向设置失败!"_gbk;
    case FetchFailure::Headers:
      return "710 设置协议头失败!"_gbk;
    case FetchFailure::Send:
      return "711 发送请求失败!"_gbk;
    case FetchFailure::NoResponse:
      return "712 服务器未响应!"_gbk;
    case FetchFailure::Read:
      return "713 读取数据失败!"_gbk;
    case FetchFailure::Certificate:
      break;
  }
  return "忽略错误/证书错误  失败！"_gbk;
}

}  // namespace lirevo
