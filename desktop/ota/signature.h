// Signed update manifests. The vendor signs each manifest's version, url and digest
// with an ECDSA P-256 key; a build that carries the public key takes only manifests
// whose "signature" member verifies with it, so whoever answers the manifest request
// cannot offer a program of their own.
#pragma once

#include <string>

// The public point built into the program (X then Y, 32 bytes each); empty in a build
// without a key, which takes manifests unsigned.
std::string BuiltInOtaKey();

// The signed bytes: a fixed first line, then the version, the url and the digest, each
// on a line of its own ending in a line feed, all UTF-8. Empty when a value holds a line
// break, since the lines could then be read in more than one way.
std::string SignedManifestMessage(const std::wstring& version, const std::wstring& url,
                                  const std::wstring& sha256);

// Standard base64, padding optional, nothing else allowed (no white space).
bool DecodeBase64(const std::string& text, std::string& out);

// ECDSA P-256 with SHA-256 through the system's cryptography API. `signature` is r then
// s, 32 bytes each, as the manifest carries it after base64 decoding.
bool VerifyP256Signature(const std::string& publicPoint, const std::string& message,
                         const std::string& signature);

enum class ManifestTrust {
    Signed,
    NotSigned,
    LineBreak,
    NoDigest,
    MalformedSignature,
    BadSignature
};

// Whether a manifest's values carry a good signature by `publicPoint`. A signed
// manifest must give a well-formed SHA-256 digest: the signature vouches for the file
// only through it.
ManifestTrust CheckManifestSignature(const std::string& publicPoint, const std::wstring& version,
                                     const std::wstring& url, const std::wstring& sha256,
                                     const std::wstring& signature);

// Why a manifest was refused, for the log, the console and the page; empty for Signed.
std::wstring ManifestRefusalReason(ManifestTrust trust);
