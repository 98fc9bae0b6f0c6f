#!/usr/bin/python3
"""Signs a build the way a site with its own certificate does: makes a
throw-away CA and code-signing certificate with openssl, configures a second
Windows build with RAVITOR_SIGNING_CERTIFICATE and a password file, and
checks every shipped file's signature against that CA, the programs inside
the signed package too. The signed RAVITOR.exe must still run under Wine,
and the ordinary build must carry no signature at all."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
from winesession import HKLM, TS_KEY, WAIT_SECONDS, WineSession  # noqa: E402

IMAGE_DIRECTORY_ENTRY_SECURITY = 4
arguments = None


def run(command, cwd=None):
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True)
    return result.returncode, result.stdout


def checked(command, cwd=None):
    code, output = run(command, cwd)
    if code != 0:
        raise RuntimeError(f"{' '.join(command)} failed with {code}:\n{output[-4000:]}")
    return output


def make_certificates(folder):
    """A CA, and a code-signing certificate it issued, as a PKCS#12 file
    protected by the password in password.txt."""
    password = os.path.join(folder, "password.txt")
    with open(password, "w") as f:
        f.write("throw-away password\n")
    ca_key, ca_cert = (os.path.join(folder, name) for name in ("ca.key", "ca.pem"))
    checked(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
             "-subj", "/CN=Throw-away test CA", "-keyout", ca_key, "-out", ca_cert,
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    key, request, cert = (os.path.join(folder, name) for name in ("signer.key", "signer.csr",
                                                                   "signer.pem"))
    checked(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Brevane test signer",
             "-keyout", key, "-out", request])
    extensions = os.path.join(folder, "signer.ext")
    with open(extensions, "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    checked(["openssl", "x509", "-req", "-in", request, "-CA", ca_cert, "-CAkey", ca_key,
             "-CAcreateserial", "-days", "2", "-extfile", extensions, "-out", cert])
    pkcs12 = os.path.join(folder, "signer.pfx")
    checked(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-certfile", ca_cert,
             "-passout", "file:" + password, "-out", pkcs12])
    return ca_cert, pkcs12, password


def has_signature(path):
    directory = pefile.PE(path, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY
    return directory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size > 0


class SignedBuild(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="ravitor-signing-")
        cls.ca, pkcs12, password = make_certificates(cls.folder)
        cls.build = os.path.join(cls.folder, "build")
        cls.configure_output = checked(
            [arguments.cmake, "--preset", "windows", "-B", cls.build,
             "-DRAVITOR_SIGNING_CERTIFICATE=" + pkcs12,
             "-DRAVITOR_SIGNING_PASSWORD_FILE=" + password], cwd=arguments.source)
        checked([arguments.cmake, "--build", cls.build, "--parallel", "2", "--target", "msi"])
        cls.msi = os.path.join(cls.build, os.path.basename(arguments.msi))
        cls.shipped = [os.path.join(cls.build, name)
                       for name in ("RAVITOR.exe", "RAVITOR-trace.exe", "RAVITOR-service.exe")]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def verify(self, path, ca):
        return run(["osslsigncode", "verify", "-CAfile", ca, "-in", path])

    def test_every_shipped_file_is_signed_by_the_configured_certificate(self):
        self.assertIn("Signing RAVITOR.exe, RAVITOR-trace.exe, RAVITOR-service.exe and the package",
                      self.configure_output)
        for path in self.shipped + [self.msi]:
            with self.subTest(file=os.path.basename(path)):
                code, output = self.verify(path, self.ca)
                self.assertEqual(code, 0, output)
                self.assertIn("Signature verification: ok", output)
                self.assertIn("Brevane test signer", output)
                self.assertIn("Tolvex Pellan Session Timers", output)

    def test_a_signature_is_not_trusted_without_its_ca(self):
        # The system's bundle does not hold the throw-away CA.
        code, output = self.verify(self.shipped[0], "/etc/ssl/certs/ca-certificates.crt")
        self.assertNotEqual(code, 0, output)

    def test_the_package_holds_the_signed_programs(self):
        extracted = os.path.join(self.folder, "extracted")
        checked(["msiextract", "-C", extracted, self.msi])
        found = {name: os.path.join(root, name) for root, _, names in os.walk(extracted)
                 for name in names}
        for path in self.shipped:
            name = os.path.basename(path)
            with self.subTest(file=name):
                code, output = self.verify(found[name], self.ca)
                self.assertEqual(code, 0, output)

    def test_the_signed_program_runs_under_wine(self):
        session = WineSession()
        self.addCleanup(session.close)
        session.write_registry({(HKLM, TS_KEY): {"MaxIdleTime": 600000}})
        process = session.start(self.shipped[0])
        if not session.wait_for_window(process, arguments.driver):
            self.fail("the signed RAVITOR.exe did not start:\n"
                      + session.diagnosis(process, arguments.driver))
        session.drive(arguments.driver, "command", 105)
        self.assertEqual(process.wait(timeout=WAIT_SECONDS), 0)


class UnsignedBuild(unittest.TestCase):
    def setUp(self):
        if arguments.signing_certificate:
            self.skipTest("this build is configured to sign")

    def test_the_ordinary_build_carries_no_signature(self):
        for path in (arguments.ravitor, arguments.trace, arguments.service):
            with self.subTest(file=os.path.basename(path)):
                self.assertFalse(has_signature(path))
        code, output = run(["osslsigncode", "verify", "-in", arguments.msi])
        self.assertNotEqual(code, 0, output)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("source", "cmake", "msi", "ravitor", "trace", "service", "driver"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--signing-certificate", default="")
    arguments, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
