#include "posix/http_errors.h"

#include <string>

namespace zavren {

namespace {

HttpError::Kind kindFor(CURLcode code) {
    using K = HttpError::Kind;
    switch (code) {
        case CURLE_COULDNT_CONNECT:
            return K::cannotConnect;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return K::hostNotFound;
        case CURLE_OPERATION_TIMEDOUT:
            return K::timedOut;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
            return K::tls;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_HTTP3:
        case CURLE_QUIC_CONNECT_ERROR:
            return K::connectionLost;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return K::badUrl;
        default:
            return K::other;
    }
}

}  // namespace

HttpError httpError(HttpError::Kind kind) {
    using K = HttpError::Kind;
    switch (kind) {
        case K::cancelled:
            return {kind, "已取消"};
        case K::timedOut:
            return {kind, "请求超时"};
        case K::cannotConnect:
            return {kind, "无法连接到服务器"};
        case K::hostNotFound:
            return {kind, "找不到服务器"};
        case K::connectionLost:
            return {kind, "网络连接已中断"};
        case K::tls:
            return {kind, "安全连接失败"};
        case K::badUrl:
            return {kind, "网址无效"};
        case K::aborted:
            return {kind, "传输已中止"};
        case K::tooLarge:
            return {kind, "响应过大"};
        case K::other:
            break;
    }
    return {K::other, "网络错误"};
}

HttpError httpErrorFor(CURLcode code) {
    HttpError::Kind kind = kindFor(code);
    if (kind != HttpError::Kind::other) return httpError(kind);
    if (code == CURLE_TOO_MANY_REDIRECTS) return {kind, "重定向次数过多"};
    if (code == CURLE_BAD_FUNCTION_ARGUMENT) return {kind, "请求无效"};
    // The code lets support tell one unusual failure from another.
    return {kind, "网络错误(错误码 " + std::to_string(static_cast<int>(code)) + ")"};
}

}  // namespace zavren
